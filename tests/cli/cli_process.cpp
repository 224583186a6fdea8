#include "cli/cli_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char **environ;

Outcome run_quorvane(const std::vector<std::string> &args, const std::string &cwd, const std::string &home,
                     const std::map<std::string, std::string> &env) {
    std::map<std::string, std::string> with_home = env;
    with_home.emplace("QUORVANE_HOME", home);  // unless the test sets or removes it
    return run_program(QV_CLI_PROGRAM, args, cwd, with_home);
}

Outcome run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                    const std::map<std::string, std::string> &env) {
    TempDir io;
    std::string out_path = io.file("out"), err_path = io.file("err");
    std::map<std::string, std::string> vars;
    for (char **e = environ; *e; ++e) {
        const char *eq = std::strchr(*e, '=');
        if (eq) vars[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
    vars.erase("NO_COLOR");
    for (const auto &[name, value] : env) {
        if (value.empty()) {
            vars.erase(name);
        } else {
            vars[name] = value;
        }
    }
    std::vector<std::string> env_text;
    for (const auto &[name, value] : vars) env_text.push_back(name + "=" + value);
    std::vector<char *> envp;
    for (std::string &s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argv_text) argv.push_back(s.data());
    argv.push_back(nullptr);

    // The child starts in `cwd`; its output goes to files, which never block it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    Outcome result;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    return result;
}

std::vector<std::string> request_lines(const HttpServer &server) {
    std::vector<std::string> lines;
    for (const HttpRequest &r : server.requests()) lines.push_back(r.method + " " + r.target);
    return lines;
}

bool is_one_line(const std::string &text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}
