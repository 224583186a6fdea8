// Runs a fuzz target once on every file of the corpora named on the command
// line, without a fuzzing engine: the seed corpora become a plain test. Each
// input runs in a process of its own, so one that fails (a reproducer of a
// fault not yet fixed) does not keep the others from running.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

// Regular files directly in `path`, sorted, so every run replays in one order.
std::vector<std::string> corpus_files(const std::string &path) {
    std::vector<std::string> files;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return files;
    if (S_ISREG(st.st_mode)) return {path};
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string file = path + "/" + e->d_name;
            if (e->d_name[0] != '.' && stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(file);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Runs one input in a child process; true when it ran to the end.
bool replay(const std::string &file) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        std::fprintf(stderr, "== %s\n", file.c_str());
        std::string bytes = fuzz_read_file(file);
        // A copy of exactly the input's size, so ASan sees reads past its end;
        // never a null pointer, as with libFuzzer.
        std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), input.get());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
        std::exit(0);  // runs the leak check and the cleanup of the child
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::size_t replayed = 0;
    std::vector<std::string> failed;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> files = corpus_files(argv[i]);
        if (files.empty()) {
            std::fprintf(stderr, "%s: no inputs\n", argv[i]);
            return 1;
        }
        for (const std::string &file : files) {
            ++replayed;
            if (!replay(file)) failed.push_back(file);
        }
    }
    std::printf("replayed %zu inputs, %zu failed\n", replayed, failed.size());
    for (const std::string &file : failed) std::printf("FAILED: %s\n", file.c_str());
    return replayed > 0 && failed.empty() ? 0 : 1;
}
