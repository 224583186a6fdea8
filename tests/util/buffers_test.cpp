// The growing buffer and the document builder: a failed step sticks, so a
// chain of them is checked once at its end and never half-applied.
#include <string>

#include <gtest/gtest.h>

#include "hooks/alloc_hooks.h"
#include "util/alloc.h"
#include "util/dynbuf.h"
#include "util/json_build.h"
#include "util/owners.h"

namespace {

TEST(DynBuf, AnErrorSticksUntilReset) {
    const std::string long_text(5000, 'x');
    struct Case {
        const char *name;
        std::size_t max;
        long fail_at;  // allocation to fail, -1: none
        DynBuf::Error error;
    } cases[] = {{"ceiling", 10, -1, DynBuf::Error::too_large}, {"memory", 0, 0, DynBuf::Error::no_memory}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DynBuf buf(c.max);
        if (c.max) {
            ASSERT_TRUE(buf.append("12345678"));
        }
        ac_alloc_fail(c.fail_at, false);
        EXPECT_FALSE(buf.append(long_text.c_str()));
        ac_alloc_fail(-1, false);
        // Later appends fail too, even ones that would fit, and change nothing.
        EXPECT_FALSE(buf.append_byte('y'));
        EXPECT_FALSE(buf.appendf("%d", 7));
        EXPECT_FALSE(buf.reserve(0));
        EXPECT_EQ(buf.error(), c.error);
        EXPECT_FALSE(buf.ok());
        EXPECT_EQ(std::string(buf.c_str()), c.max ? "12345678" : "");
        buf.reset();
        EXPECT_TRUE(buf.ok());
        EXPECT_TRUE(buf.appendf("%s|%d|%zu", "a", -3, std::size_t{9}));
        EXPECT_EQ(std::string(buf.c_str(), buf.len()), "a|-3|9");
    }
}

TEST(DynBuf, AppendfOfAnyLengthAndACeilingThatBoundsTheAllocation) {
    DynBuf buf;
    const std::string piece(3000, 'p');
    ASSERT_TRUE(buf.appendf("<%s>", piece.c_str()));
    ASSERT_TRUE(buf.appendf("%s%c", piece.c_str(), '!'));
    EXPECT_EQ(std::string(buf.c_str(), buf.len()), "<" + piece + ">" + piece + "!");
    EXPECT_EQ(buf.c_str()[buf.len()], '\0');

    DynBuf bounded(1000);
    ASSERT_TRUE(bounded.append(std::string(600, 'a').c_str()));
    ASSERT_TRUE(bounded.append(std::string(400, 'b').c_str()));
    EXPECT_EQ(bounded.len(), 1000u);
    EXPECT_LE(bounded.cap(), 1001u);
    EXPECT_FALSE(bounded.append_byte('c'));
}

// Every allocation of a build failing in turn: the builder reports it, and
// nothing after the failed step is added.
TEST(JsonBuild, AFailedStepStopsTheRest) {
    auto build = [](std::string &out) {
        unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
        JsonBuild b(doc.get());
        yyjson_mut_val *root = b.obj(), *list = b.arr();
        b.add_text(root, "name", "n\u00e9");
        for (int i = 0; i < 50; ++i) {
            yyjson_mut_val *item = b.obj();
            b.add_text(item, "k", std::to_string(i).c_str());
            b.add_true(item, "on");
            b.append(list, item);
        }
        b.add(root, "list", list);
        if (!b.ok()) return false;
        yyjson_mut_doc_set_root(doc.get(), root);
        unique_cstr text(yyjson_mut_write_opts(doc.get(), 0, ac_alc(), nullptr, nullptr));
        if (!text) return false;
        out = text.get();
        return true;
    };
    std::string whole;
    ASSERT_TRUE(build(whole));
    EXPECT_EQ(whole.rfind("{\"name\":\"n\u00e9\",\"list\":[{\"k\":\"0\",\"on\":true},", 0), 0u) << whole;
    for (long n = 0;; ++n) {
        ac_alloc_fail(n, false);
        std::string got;
        bool built = build(got);
        bool hit = ac_alloc_failed();
        ac_alloc_fail(-1, false);
        EXPECT_EQ(built, !hit) << n;
        if (built) {
            EXPECT_EQ(got, whole);
            break;
        }
    }
}

}  // namespace
