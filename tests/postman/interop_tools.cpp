#include "postman/interop_tools.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "support/temp_dir.h"

namespace {
const std::string interop_dir = std::string(QV_SOURCE_DIR) + "/tests/interop";
}

std::string interop_missing_tools() {
    if (std::system("node --version >/dev/null 2>&1") != 0) return "node is not installed";
    for (const char *package : {"postman-collection", "newman"}) {
        if (!file_exists(interop_dir + "/node_modules/" + package + "/package.json"))
            return std::string("tests/interop/node_modules lacks ") + package + " (run scripts/interop-install)";
    }
    return "";
}

std::string shell_quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run_interop_script(const std::string &script, const std::string &args) {
    std::string command = "node " + shell_quote(interop_dir + "/" + script) + " " + args;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return out;
}
