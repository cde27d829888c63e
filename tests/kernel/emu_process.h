// efis-emu as a child of a test in the guest: its output read line by line on a thread of its
// own, so that a signal can be sent to it at a chosen frame even while the thread that drives
// the tool is blocked in an exchange with the unit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kernel_test {

class EmuProcess {
public:
    EmuProcess() = default;
    ~EmuProcess() { stop(); }
    EmuProcess(const EmuProcess&) = delete;
    EmuProcess& operator=(const EmuProcess&) = delete;

    // Starts `program` with `args`, its standard output and error on one pipe.
    bool start(const std::string& program, const std::vector<std::string>& args) {
        int fds[2] = {-1, -1};
        if (pid_ > 0 || pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        std::vector<std::string> all;
        all.push_back(program);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(&a[0]);
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            return false;
        }
        pid_ = pid;
        reader_ = std::thread([this, fd = fds[0]] { readLines(fd); });
        return true;
    }

    // SIGTERM, then SIGKILL when it has not ended within 10 s; true when it ended by itself
    // with status 0.
    bool stop() {
        if (pid_ <= 0) {
            return true;
        }
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool ended = false;
        const auto start = std::chrono::steady_clock::now();
        while (!ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            ended = reap(&status, WNOHANG);
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            reap(&status, 0);
        }
        reader_.join();
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    bool send(int sig) {
        std::lock_guard<std::mutex> lock(mutex_);
        return pid_ > 0 && ::kill(pid_, sig) == 0;
    }

    // Sends `sig` when `count` more lines starting with `prefix` have been printed.
    void signalAfter(const std::string& prefix, int count, int sig) {
        std::lock_guard<std::mutex> lock(mutex_);
        trigger_ = {prefix, count, sig, false};
    }
    bool triggerFired() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return trigger_.fired;
    }

    int countLines(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const std::string& line : lines_) {
            n += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        }
        return n;
    }

    std::string output() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        for (const std::string& line : lines_) {
            text += line;
            text += '\n';
        }
        return text;
    }

private:
    struct Trigger {
        std::string prefix;
        int left = 0;
        int sig = 0;
        bool fired = false;
    };

    // Reaped under the lock, so that no signal goes to the number once it is free again.
    bool reap(int* status, int options) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waitpid(pid_, status, options) != pid_) {
            return false;
        }
        pid_ = -1;
        return true;
    }

    void readLines(int fd) {
        std::string pending;
        char buffer[4096];
        for (;;) {
            std::memset(buffer, 0, sizeof(buffer));
            const ssize_t n = read(fd, buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            pending.append(buffer, static_cast<size_t>(n));
            size_t end = 0;
            while ((end = pending.find('\n')) != std::string::npos) {
                addLine(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        close(fd);
    }

    void addLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
        Trigger& t = trigger_;
        if (t.left <= 0 || t.fired || line.compare(0, t.prefix.size(), t.prefix) != 0) {
            return;
        }
        if (--t.left == 0 && pid_ > 0) {
            t.fired = ::kill(pid_, t.sig) == 0;
        }
    }

    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Trigger trigger_;
};

}  // namespace kernel_test
