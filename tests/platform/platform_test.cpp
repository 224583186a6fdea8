#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "support/host.h"
#include "support/temp_dir.h"
#include "hooks/alloc_hooks.h"
#include "util/util.h"

namespace fs = std::filesystem;

TEST(Clock, AgreesWithTimeInAnyTimeZone) {
    const char *saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    for (const char *tz : {"UTC0", "XXX-14", "YYY+12", "Asia/Kathmandu"}) {
        set_env("TZ", tz);
        tzset();
        std::int64_t before = std::time(nullptr);
        std::uint64_t millis = ac_now_millis();
        std::int64_t secs = ac_now_secs();
        std::int64_t after = std::time(nullptr);
        // time() may read a coarser clock: allow one extra second.
        EXPECT_GE(millis, static_cast<std::uint64_t>(before) * 1000) << tz;
        EXPECT_LT(millis, static_cast<std::uint64_t>(after + 2) * 1000) << tz;
        EXPECT_TRUE(secs >= before && secs <= after) << tz;
    }
    set_env("TZ", saved ? old.c_str() : nullptr);
    tzset();
}

TEST(ReadFile, UnreadablePathsGiveNullAndLeaveSizeAlone) {
    TempDir dir;
    write_text(dir.file("plain"), "x");
    const std::string missing = dir.file("missing"), through_file = dir.file("plain/x");
    for (const char *path : {static_cast<const char *>(nullptr), "", missing.c_str(), dir.path().c_str(),
                             through_file.c_str()}) {
        std::uint64_t size = 12345;
        EXPECT_EQ(ac_read_file(path, &size), nullptr) << (path ? path : "null");
        EXPECT_EQ(size, 12345u);
    }
}

// Request bodies are read through the open file: only a regular file, opened
// binary, with its size. The whole-file reader tells a lack of memory apart
// from a file it cannot read.
TEST(ReadFile, OpensOnlyRegularFilesAndTellsMemoryFromUnreadable) {
    TempDir dir;
    const std::string plain = dir.file("plain"), missing = dir.file("missing");
    write_text(plain, std::string("a\r\nb\0\x1a", 6));
    std::uint64_t size = 0;
    std::FILE *f = ac_open_regular_file(plain.c_str(), &size);
    ASSERT_NE(f, nullptr);
    char buf[16];
    EXPECT_EQ(std::string(buf, std::fread(buf, 1, sizeof buf, f)), std::string("a\r\nb\0\x1a", 6));
    std::fclose(f);
    EXPECT_EQ(size, 6u);
    for (const char *path : {static_cast<const char *>(nullptr), "", missing.c_str(), dir.path().c_str()}) {
        size = 7;
        EXPECT_EQ(ac_open_regular_file(path, &size), nullptr) << (path ? path : "null");
        EXPECT_EQ(size, 7u);
    }

    bool no_memory = true;
    EXPECT_EQ(ac_read_file(missing.c_str(), nullptr, &no_memory), nullptr);
    EXPECT_FALSE(no_memory);
    ac_alloc_fail(0, true);
    EXPECT_EQ(ac_read_file(plain.c_str(), nullptr, &no_memory), nullptr);
    ac_alloc_fail(-1, false);
    EXPECT_TRUE(no_memory);
    EXPECT_NE(unique_cstr(ac_read_file(plain.c_str(), nullptr, &no_memory)), nullptr);
    EXPECT_FALSE(no_memory);
}

// A source that gives nothing returns 0 every time.
TEST(Entropy, DiffersFromCallToCall) { EXPECT_NE(ac_entropy(), ac_entropy()); }

TEST(WriteFileAtomic, WritesExactBytesThatReadBackAndLeavesNoTemporary) {
    const std::string binary("a\0b\r\nc\n\rd\r\xff\xfe\x80\0\0end\x1a", 19);
    std::string large(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 + (i >> 9));
    const struct {
        std::string previous;  // "-": no previous file
        std::string data;
        bool null_data;
    } cases[] = {{"old", "", true}, {"-", binary, false}, {std::string(5000, 'o'), "new", false}, {"-", large, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.data.size());
        TempDir dir;
        const std::string target = dir.file("out.json");
        if (c.previous != "-") write_text(target, c.previous);
        EXPECT_EQ(ac_write_file_atomic(target.c_str(), c.null_data ? nullptr : c.data.data(), c.data.size()), 1);
        EXPECT_EQ(read_text(target), c.data);
        EXPECT_EQ(list_dir(dir.path()), "out.json");
        std::uint64_t size = 99;
        unique_cstr back(ac_read_file(target.c_str(), &size));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(std::string(back.get(), size + 1), c.data + '\0');
        EXPECT_NE(unique_cstr(ac_read_file(target.c_str(), nullptr)), nullptr);
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
        const char *path, *data;
    } cases[] = {{nullptr, "x"}, {"", "x"}, {in_missing.c_str(), "x"}, {under_file.c_str(), "x"},
                 {onto_dir.c_str(), "x"}, {keep.c_str(), nullptr}};
    for (const auto &c : cases) {
        EXPECT_EQ(ac_write_file_atomic(c.path, c.data, 1), 0) << (c.path ? c.path : "null");
        EXPECT_EQ(list_dir(dir.path()), "keep target");
        EXPECT_EQ(read_text(dir.file("keep")), "precious");
        EXPECT_EQ(list_dir(dir.file("target")), "inside");
    }
}

// A cut temporary name could be another file in the same directory.
TEST(WriteFileAtomic, LongPathsNeverWriteThroughACutTemporaryName) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows without long path support refuses paths beyond MAX_PATH (260 bytes)";
#endif
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
    EXPECT_EQ(list_dir(deep), fits.substr(deep.size() + 1) + " " + sibling.substr(deep.size() + 1));
}
