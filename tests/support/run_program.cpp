// Child-process runner and temporary directories for the end-to-end tests.
#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

// Reads both pipes until both are closed, so that neither child stream can
// fill its pipe and block the child. At the deadline the child's whole
// process group is killed, which closes the pipes; returns whether it was.
bool drain(int out_fd, int err_fd, pid_t group, int timeout_s, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    char chunk[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    bool killed = false;
    while (open_count > 0) {
        int wait_ms = -1;
        if (!killed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait_ms = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int ready = poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        if (ready == 0) {
            kill(-group, SIGKILL);
            killed = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return killed;
}

}  // namespace

run_result run_program(const std::vector<std::string>& argv, const run_options& options) {
    std::vector<std::string> env_entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const auto& gone : options.unset)
            dropped = dropped || gone == name;
        for (const auto& added : options.env) {
            dropped = dropped || added.substr(0, added.find('=')) == name;
        }
        if (!dropped)
            env_entries.push_back(text);
    }
    for (const auto& added : options.env)
        env_entries.push_back(added);

    std::vector<char*> child_argv;
    for (const auto& arg : argv)
        child_argv.push_back(const_cast<char*>(arg.c_str()));
    child_argv.push_back(nullptr);
    std::vector<char*> child_env;
    for (auto& entry : env_entries)
        child_env.push_back(entry.data());
    child_env.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, null_fd, STDIN_FILENO);
    if (!options.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

    // A process group of its own, so that a timeout ends whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    pid_t pid = 0;
    int spawn_error = posix_spawn(&pid, child_argv[0], &actions, &attributes, child_argv.data(),
                                  child_env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(null_fd);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawn_error != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawn_error));
    }

    run_result result;
    result.timed_out =
        drain(out_pipe[0], err_pipe[0], pid, options.timeout_s, result.out, result.err);
    if (result.timed_out) {
        result.err += "run_program: " + argv[0] + " killed after " +
                      std::to_string(options.timeout_s) + " s\n";
    }
    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return result;
}

std::vector<std::string> split_words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> list;
    for (std::string word; in >> word;)
        list.push_back(word);
    return list;
}

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vmurx-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

std::string file_state(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "absent";
    if (S_ISDIR(st.st_mode))
        return "directory";
    if (S_ISLNK(st.st_mode))
        return "link";
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    return read_file(path);
}
