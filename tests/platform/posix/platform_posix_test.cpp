// What the POSIX layer guarantees beyond the common ones: FIFOs, sockets and
// devices refused without blocking, no write through a planted link, the
// mode kept, and temporaries of dead processes removed.
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

namespace fs = std::filesystem;

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
