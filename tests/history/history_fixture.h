// Each test starts initialised without a storage directory; init_with_dir switches to its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"

class HistoryTest : public LibraryTest {
protected:

    void init_with_dir() { ASSERT_EQ(api_init(dir_.path().c_str()), 1); }
    std::string history_file() const { return dir_.file("history.json"); }
    static std::uint64_t now() { return static_cast<std::uint64_t>(std::time(nullptr)); }

    // Checks the listing after `act`; "now" in `expected` stands for the clock while `act` ran.
    template <class Act> static void expect_listing_after(Act act, const std::string &expected, int limit = 0) {
        auto at = [&](std::uint64_t t) {
            std::string s = expected;
            for (std::size_t i; (i = s.find("now")) != std::string::npos;) s.replace(i, 3, std::to_string(t));
            return s;
        };
        std::uint64_t before = now();
        act();
        std::string got = api_history_list_json(limit);
        EXPECT_TRUE(got == at(before) || got == at(now())) << got;
    }

    TempDir dir_;
};

// One record as the compact listing writes it.
inline std::string record_json(const std::string &method, const std::string &url, long long status, const std::string &ts) {
    return R"({"method":")" + method + R"(","url":")" + url + R"(","status":)" + std::to_string(status) + R"(,"ts":)" + ts + "}";
}
