// quorvane against its peers, side by side in one run, all on a local server:
//   quorvane run  vs newman run   on a 200-request collection (goal: 10x less wall time)
//   quorvane request vs curl      for one small GET (goal: at most 1.5x curl's time),
//                                 with and without recording it in the history
// Each process's wall time and CPU time (user + system) are measured; the
// figures are medians of alternating runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "support/http_server.h"

extern char **environ;

namespace {

struct Cost {
    double wall_ms = -1;
    double cpu_ms = -1;
};

// Runs a program with its output thrown away; wall_ms < 0 when it failed.
Cost measure(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Cost cost;
    pid_t pid = -1;
    auto start = clock_type::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            cost.wall_ms = millis_since(start);
            cost.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return cost;
}

struct Series {
    std::vector<double> wall, cpu;
    bool failed = false;
    void add(Cost c) {
        failed = failed || c.wall_ms < 0;
        wall.push_back(c.wall_ms);
        cpu.push_back(c.cpu_ms);
    }
};

// Alternates the two commands `rounds` times so that both see the same machine.
void compare(const char *title, const char *a_name, const std::vector<std::string> &a, const char *b_name,
             const std::vector<std::string> &b, int rounds, const char *goal, bool (*met)(double, double)) {
    Series sa, sb;
    measure(a);  // warm the page cache for both
    measure(b);
    for (int i = 0; i < rounds; ++i) {
        sa.add(measure(a));
        sb.add(measure(b));
    }
    std::printf("\n%s (median of %d alternating runs)\n", title, rounds);
    if (sa.failed || sb.failed) {
        std::printf("  a command failed: %s%s\n", sa.failed ? a_name : "", sb.failed ? b_name : "");
        return;
    }
    double aw = median(sa.wall), bw = median(sb.wall), ac = median(sa.cpu), bc = median(sb.cpu);
    std::printf("  %-18s wall %9.2f ms   cpu %9.2f ms\n", a_name, aw, ac);
    std::printf("  %-18s wall %9.2f ms   cpu %9.2f ms\n", b_name, bw, bc);
    std::printf("  ratio %s/%s: wall %.2fx, cpu %.2fx; goal %s: %s\n", a_name, b_name, aw / bw, ac / bc, goal,
                met(aw, bw) ? "met" : "NOT met");
}

std::string collection_of(int n) {
    std::string items;
    for (int i = 0; i < n; ++i) {
        if (i > 0) items += ",";
        std::string id = std::to_string(i);
        items += i % 2 == 0 ? R"({"name":"get )" + id + R"(","request":{"method":"GET","url":"{{base}}/items/)" + id +
                                  R"(?q=x","header":[{"key":"X-N","value":")" + id + R"("}]}})"
                            : R"({"name":"post )" + id + R"(","request":{"method":"POST","url":"{{base}}/items","body":)"
                                  R"({"mode":"raw","raw":"{\"n\":)" + id + R"(}","options":{"raw":{"language":"json"}}}}})";
    }
    return R"({"info":{"name":"bench","schema":"https://schema.getpostman.com/json/collection/v2.1.0/collection.json"},"item":[)" +
           items + "]}";
}

}  // namespace

int main() {
    HttpServer server;
    server.set_default(http_response(200, R"({"id":42,"name":"Ada"})", "Content-Type: application/json\r\n"));
    std::string dir = make_temp_dir();
    std::string collection = dir + "/c200.json";
    if (FILE *f = std::fopen(collection.c_str(), "w")) {
        std::fputs(collection_of(200).c_str(), f);
        std::fclose(f);
    }
    setenv("QUORVANE_HOME", dir.c_str(), 1);  // the request's history goes here, as a user's would
    std::string base = "base=" + server.base_url();
    std::printf("quorvane vs newman and curl, server %s, %ld cores online\n", server.base_url().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN));

    std::string newman = std::string(QV_SOURCE_DIR) + "/tests/interop/node_modules/newman/bin/newman.js";
    if (access(newman.c_str(), R_OK) == 0) {
        compare("run: 200 requests, cli reporter", "quorvane run", {QV_CLI_PROGRAM, "run", collection, "--env-var", base},
                "newman run", {"node", newman, "run", collection, "--env-var", base}, 5, "newman/quorvane >= 10",
                [](double q, double n) { return n / q >= 10; });
    } else {
        std::printf("\nrun: skipped, newman is missing (run scripts/interop-install)\n");
    }
    std::string url = server.url("/users/42");
    compare("request: one small GET, recorded in the history", "quorvane request", {QV_CLI_PROGRAM, "request", url},
            "curl", {"curl", "-s", url}, 30, "quorvane/curl <= 1.5", [](double q, double c) { return q / c <= 1.5; });
    // The history's durable write (two fsyncs) is the part that depends on the disk.
    compare("request: one small GET, --no-history", "quorvane request", {QV_CLI_PROGRAM, "request", url, "--no-history"},
            "curl", {"curl", "-s", url}, 30, "quorvane/curl <= 1.5", [](double q, double c) { return q / c <= 1.5; });
    std::filesystem::remove_all(dir);
    return 0;
}
