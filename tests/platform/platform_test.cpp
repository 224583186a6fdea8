#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/temp_dir.h"
#include "util/util.h"

namespace fs = std::filesystem;

namespace {

// The clock must agree with time(), which counts UTC seconds whatever TZ says.
void expect_clock_matches_time() {
    std::int64_t before = std::time(nullptr);
    std::uint64_t millis = ac_now_millis();
    std::int64_t secs = ac_now_secs();
    std::int64_t after = std::time(nullptr);
    // time() may read a coarser clock than ac_now_millis: allow one extra second.
    EXPECT_GE(millis, static_cast<std::uint64_t>(before) * 1000);
    EXPECT_LT(millis, static_cast<std::uint64_t>(after + 2) * 1000);
    EXPECT_GE(secs, before);
    EXPECT_LE(secs, after);
}

const std::string binary_bytes("a\0b\r\nc\n\rd\r\xff\xfe\x80\0\0end\x1a", 19);

}  // namespace

TEST(Clock, AgreesWithTimeInAnyTimeZone) {
    const char *saved = std::getenv("TZ");
    std::string old = saved ? saved : "";
    for (const char *tz : {"UTC0", "XXX-14", "YYY+12", "Asia/Kathmandu"}) {
        SCOPED_TRACE(tz);
        setenv("TZ", tz, 1);
        tzset();
        expect_clock_matches_time();
    }
    if (saved) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(ReadFile, EmptyFileGivesTerminatedEmptyBuffer) {
    TempDir dir;
    write_text(dir.file("empty"), "");
    std::uint64_t size = 99;
    unique_cstr buf(ac_read_file(dir.file("empty").c_str(), &size));
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(buf.get()[0], '\0');
    EXPECT_EQ(size, 0u);
}

TEST(ReadFile, BinaryBytesComeBackExactlyWithTerminator) {
    TempDir dir;
    write_text(dir.file("bin"), binary_bytes);
    std::uint64_t size = 0;
    unique_cstr buf(ac_read_file(dir.file("bin").c_str(), &size));
    ASSERT_NE(buf, nullptr);
    ASSERT_EQ(size, binary_bytes.size());
    EXPECT_EQ(std::string(buf.get(), size), binary_bytes);
    EXPECT_EQ(buf.get()[size], '\0');

    unique_cstr again(ac_read_file(dir.file("bin").c_str(), nullptr));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(std::memcmp(again.get(), binary_bytes.data(), binary_bytes.size()), 0);
}

TEST(ReadFile, UnreadablePathsGiveNullAndLeaveSizeAlone) {
    TempDir dir;
    write_text(dir.file("plain"), "x");
    fs::create_directory(dir.file("sub"));
    const std::string missing = dir.file("missing"), sub = dir.file("sub"),
                      through_file = dir.file("plain/x");
    const struct {
        const char *what;
        const char *path;
    } cases[] = {
        {"null", nullptr},
        {"empty", ""},
        {"missing file", missing.c_str()},
        {"directory", sub.c_str()},
        {"parent is a file", through_file.c_str()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::uint64_t size = 12345;
        EXPECT_EQ(ac_read_file(c.path, &size), nullptr);
        EXPECT_EQ(size, 12345u);
    }
}

TEST(WriteFileAtomic, WritesExactBytesAndLeavesNoTemporary) {
    std::string large(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 + (i >> 9));
    const struct {
        const char *what;
        std::string previous;  // "-" for no previous file
        std::string data;
        bool null_data;
    } cases[] = {
        {"empty from null data", "-", "", true},
        {"empty from non-null data", "old", "", false},
        {"binary bytes", "-", binary_bytes, false},
        {"shorter than the old file", std::string(5000, 'o'), "new", false},
        {"large", "small", large, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string target = dir.file("out.json");
        if (c.previous != "-") write_text(target, c.previous);
        EXPECT_EQ(ac_write_file_atomic(target.c_str(), c.null_data ? nullptr : c.data.data(), c.data.size()), 1);
        EXPECT_EQ(read_text(target), c.data);
        EXPECT_EQ(list_dir(dir.path()), "out.json");

        std::uint64_t size = 0;
        unique_cstr back(ac_read_file(target.c_str(), &size));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(std::string(back.get(), size), c.data);
    }
}

TEST(WriteFileAtomic, RelativePathInCurrentDirectory) {
    TempDir dir;
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(ac_write_file_atomic("rel.txt", "abc", 3), 1);
    fs::current_path(cwd);
    EXPECT_EQ(read_text(dir.file("rel.txt")), "abc");
    EXPECT_EQ(list_dir(dir.path()), "rel.txt");
}

TEST(WriteFileAtomic, FailuresCreateNothingAndKeepWhatWasThere) {
    TempDir dir;
    write_text(dir.file("keep"), "precious");
    fs::create_directory(dir.file("target"));
    write_text(dir.file("target/inside"), "inner");
    const std::string in_missing = dir.file("missing/out.json"), under_file = dir.file("keep/out.json"),
                      onto_dir = dir.file("target"), keep = dir.file("keep");
    const struct {
        const char *what;
        const char *path;
        const char *data;
        std::uint64_t size;
    } cases[] = {
        {"null path", nullptr, "x", 1},
        {"empty path", "", "x", 1},
        {"missing directory", in_missing.c_str(), "x", 1},
        {"parent is a regular file", under_file.c_str(), "x", 1},
        {"target is a directory", onto_dir.c_str(), "x", 1},
        {"null data with a count", keep.c_str(), nullptr, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ac_write_file_atomic(c.path, c.data, c.size), 0);
        EXPECT_EQ(list_dir(dir.path()), "keep target");
        EXPECT_EQ(read_text(dir.file("keep")), "precious");
        EXPECT_EQ(list_dir(dir.file("target")), "inside");
        EXPECT_EQ(read_text(dir.file("target/inside")), "inner");
    }
}

// A target whose temporary name would not fit must not be written through a cut
// name: that name could be another file in the same directory.
TEST(WriteFileAtomic, LongPathsNeverWriteThroughACutTemporaryName) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 880) {
        deep += "/" + std::string(100, 'd');
        fs::create_directory(deep);
    }
    const std::string fits = deep + "/" + std::string(1040 - deep.size() - 1, 'f');
    EXPECT_EQ(ac_write_file_atomic(fits.c_str(), "ok", 2), 1);
    EXPECT_EQ(read_text(fits), "ok");

    const std::string target = deep + "/" + std::string(1100 - deep.size() - 1, 't');
    const std::string sibling = target.substr(0, 1087);
    write_text(sibling, "sibling");
    EXPECT_EQ(ac_write_file_atomic(target.c_str(), "data", 4), 0);
    EXPECT_EQ(read_text(sibling), "sibling");
    EXPECT_FALSE(file_exists(target));
    EXPECT_EQ(list_dir(deep), fits.substr(deep.size() + 1) + " " + sibling.substr(deep.size() + 1));
}
