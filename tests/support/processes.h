// Child processes for tests: running a program to its end, starting one in the background, and a
// private X server (Xvfb) for tests that need a display.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

using Clock = std::chrono::steady_clock;

struct Result {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out, err;
};

inline std::string ReadAll(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}

// Starts `args` with `env` added to this process's environment; stdout and stderr go to the
// given descriptors (or are inherited when -1).
inline pid_t Start(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, int outFd = -1, int errFd = -1) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
    }
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for `pid` up to `timeout`; -2 when it is still running then.
inline int WaitExit(pid_t pid, std::chrono::seconds timeout) {
    auto end = Clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 || Clock::now() > end) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

inline Result RunProgram(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("updatebank-run-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    int out = open((dir / "out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int err = open((dir / "err").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    Result result;
    pid_t pid = Start(args, env, out, err);
    if (pid > 0) {
        result.status = WaitExit(pid, std::chrono::seconds(60));
        if (result.status == -2) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    lseek(out, 0, SEEK_SET);
    lseek(err, 0, SEEK_SET);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    close(out);
    close(err);
    std::filesystem::remove_all(dir);
    return result;
}

// The standard output of a shell command line (with its errors where the line says 2>&1).
inline std::string ShellOutput(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// The program's file as PATH finds it; empty when it is not there.
inline std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::filesystem::path file = std::filesystem::path(dir) / program;
        if (!dir.empty() && access(file.c_str(), X_OK) == 0) return file.string();
    }
    return {};
}

inline bool OnPath(const std::string& program) { return !FindOnPath(program).empty(); }

// Kills and reaps a started program that is still running when the test leaves its scope, so
// that a failed assertion leaves no program behind.
struct KillAtExit {
    pid_t pid;
    ~KillAtExit() {
        if (pid > 0 && kill(pid, 0) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The leak checker's options for a program that opens windows: the X libraries' own allocations
// that live until exit are not the program's leaks.
inline std::string WindowProgramLeakOptions() {
    return "print_suppressions=0:suppressions=" + std::string(UPDATEBANK_SOURCE_DIR) +
           "/tests/app/x11-leaks.supp";
}

// A private X server for one test; stopped with the object.
//
// With -displayfd the server takes the first display whose sockets are free and tells which. A
// server that stops frees its sockets before its lock file (/tmp/.X<n>-lock), so one that starts
// in that gap takes the display and then dies on the lock ("Server is already active for
// display"); two that start at once only try further displays. So the servers of every test
// process on the machine start and stop in turn: each holds an exclusive lock on the Xvfb program
// file (opened read-only, so the tests leave no file of their own) from its start until it has
// told its display, and from its stop until it has exited. A server that still ends before
// telling its display is started again.
class Xvfb {
  public:
    Xvfb() {
        Turn turn;
        for (int attempt = 0; attempt < 3 && display_.empty(); ++attempt) StartOnce();
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        Turn turn;
        Stop();
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    const std::string& Display() const { return display_; }

  private:
    // One server at a time on this machine (see above); released when the object goes.
    class Turn {
      public:
        Turn() {
            const std::string program = FindOnPath("Xvfb");
            fd_ = program.empty() ? -1 : open(program.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ >= 0) {
                while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
                }
            }
        }
        ~Turn() {
            if (fd_ >= 0) close(fd_);  // releases the lock
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

      private:
        int fd_ = -1;
    };

    void StartOnce() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_t pid = Start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                           "1280x1024x24", "-nolisten", "tcp"},
                          {});
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        auto end = Clock::now() + std::chrono::seconds(30);
        while (pid > 0 && Clock::now() < end && number.find('\n') == std::string::npos) {
            if (poll(&p, 1, 200) > 0) {
                char buf[16];
                ssize_t n = read(fds[0], buf, sizeof buf);
                if (n <= 0) break;  // the server ended without a display
                number.append(buf, static_cast<size_t>(n));
            }
        }
        close(fds[0]);
        pid_ = pid;
        if (number.find('\n') != std::string::npos) {
            display_ = ":" + number.substr(0, number.find('\n'));
        } else {
            Stop();
        }
    }

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        if (WaitExit(pid_, std::chrono::seconds(10)) == -2) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace testsupport
