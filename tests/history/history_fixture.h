// Each test gets a storage directory of its own and starts with the library
// initialised without one; init_with_dir switches to the directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"
#include "support/temp_dir.h"

struct Record {
    std::string method;
    std::string url;
    std::int64_t status;
    std::uint64_t ts;
};

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(api_init(nullptr), 1); }
    void TearDown() override { api_cleanup(); }

    void init_with_dir() { ASSERT_EQ(api_init(dir_.path().c_str()), 1); }
    std::string history_file() const { return dir_.file("history.json"); }

    // The listing parsed back into records; fails the test on malformed text.
    static std::vector<Record> listed(int limit = 0);
    static std::uint64_t now();

    TempDir dir_;
};

// The compact record object exactly as the listing writes it.
std::string record_json(const std::string &method, const std::string &url, long long status, unsigned long long ts);
