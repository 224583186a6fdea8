#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "support/temp_dir.h"
#include "util/util.h"

namespace fs = std::filesystem;

TEST(Clock, AgreesWithTimeInAnyTimeZone) {
    const char *saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    for (const char *tz : {"UTC0", "XXX-14", "YYY+12", "Asia/Kathmandu"}) {
        setenv("TZ", tz, 1);
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
    if (saved) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
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

// A FIFO without a writer would block a plain open forever.
TEST(ReadFile, RefusesAnythingButARegularFileWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.file("fifo"), sock = dir.file("sock"), history_dir = dir.file("store");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    for (const std::string &path : {fifo, sock, std::string("/dev/zero"), std::string("/dev/null")}) {
        EXPECT_EQ(ac_read_file(path.c_str(), nullptr), nullptr) << path;
    }
    close(s);
    EXPECT_EQ(api_env_load(fifo.c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()), "api_env_load: could not open or read '" + fifo + "'");
    fs::create_directory(history_dir);
    ASSERT_EQ(mkfifo((history_dir + "/history.json").c_str(), 0600), 0);
    EXPECT_EQ(api_init(history_dir.c_str()), 1);
    EXPECT_EQ(api_history_count(), 0);
    api_cleanup();
}

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

// The temporary name is predictable: a link planted there must not make the
// save write through it.
TEST(WriteFileAtomic, NeverWritesThroughALinkAtTheTemporaryName) {
    TempDir dir;
    const std::string target = dir.file("history.json"), victim = dir.file("victim");
    write_text(target, "old");
    write_text(victim, "victim");
    const std::uint64_t now = ac_now_millis();
    for (std::uint64_t ms = now - 5; ms < now + 3000; ++ms) {
        std::string name = target + ".tmp." + std::to_string(getpid()) + "." + std::to_string(ms & 0xFFFFFFFFu);
        ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
    }
    EXPECT_EQ(ac_write_file_atomic(target.c_str(), "new", 3), 1);
    EXPECT_EQ(read_text(target), "new");
    EXPECT_EQ(read_text(victim), "victim");
}

TEST(WriteFileAtomic, ReplacementKeepsTheModeOfTheFileItReplaces) {
    TempDir dir;
    const std::string target = dir.file("history.json");
    for (mode_t mode : {0600, 0640, 0604, 0755}) {
        write_text(target, "old");
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        ASSERT_EQ(ac_write_file_atomic(target.c_str(), "new", 3), 1);
        struct stat st{};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

// A save killed mid-write leaves its temporary file; the next replacement of
// the same target removes those of processes that no longer run, and only those.
TEST(WriteFileAtomic, RemovesTemporariesLeftByDeadProcesses) {
    TempDir dir;
    const std::string target = dir.file("history.json");
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child), live = std::to_string(getppid());
    const std::string left[] = {"history.json.tmp." + dead + ".123", "history.json.tmp." + dead + ".123.4"};
    const std::string kept[] = {"history.json.tmp." + live + ".5", "other.json.tmp." + dead + ".5",
                                "history.json.tmp." + dead + ".x", "history.json.tmp.notapid.1"};
    for (const auto &name : left) write_text(dir.file(name), "partial");
    for (const auto &name : kept) write_text(dir.file(name), "partial");
    ASSERT_EQ(ac_write_file_atomic(target.c_str(), "new", 3), 1);
    for (const auto &name : left) EXPECT_FALSE(file_exists(dir.file(name))) << name;
    for (const auto &name : kept) EXPECT_TRUE(file_exists(dir.file(name))) << name;
}
