// efis-cli's process: the streams, Ctrl-C and the clock around cli_run.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <thread>

#include "cli/cli_run.h"
#include "cli/exit_status.h"

namespace {

std::atomic<bool> g_cancel{false};
bool g_verbose = false;

// Sinks the link layer's own reports on std::cerr unless --verbose asks for them; the tool
// says what failed in its own words.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
};

void message_handler(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (g_verbose) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

bool verbose_requested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--")) {
            break;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--verbose")) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Signals are taken by one thread with sigwait, so that no read or sleep of the link is
    // interrupted: Ctrl-C only asks the verb to stop at its next step or packet.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread watcher([&signals]() {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0 || signal == SIGUSR1) {
                return;
            }
            if (!g_cancel.exchange(true)) {
                static const char note[] = "\nefis-cli: interrupted; stopping at the next step\n";
                (void)!write(STDERR_FILENO, note, sizeof(note) - 1);
            } else {
                // Asked twice: no exchange is begun any more, and the one under way is left
                // to the unit, which answers into a closed link.
                static const char note[] = "efis-cli: stopped at once\n";
                (void)!write(STDERR_FILENO, note, sizeof(note) - 1);
                _exit(kExitCancelled);
            }
        }
    });

    // Results go to the real standard output; the protocol log the layers print there goes
    // to standard error with --verbose (through a filter) and nowhere otherwise.
    g_verbose = verbose_requested(argc, argv);
    std::fflush(stdout);
    const int out_fd = dup(STDOUT_FILENO);
    FILE* out = out_fd >= 0 ? fdopen(out_fd, "w") : nullptr;
    int log_pipe[2] = {-1, -1};
    const bool piped = g_verbose && pipe2(log_pipe, O_CLOEXEC) == 0;
    const int log_fd = piped ? log_pipe[1] : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out == nullptr || log_fd < 0 || dup2(log_fd, STDOUT_FILENO) < 0) {
        std::perror("efis-cli: standard output");
        pthread_kill(watcher.native_handle(), SIGUSR1);
        watcher.join();
        return 1;
    }
    close(log_fd);
    std::thread log_copier;
    if (piped) {
        const int from = log_pipe[0];
        log_copier = std::thread([from]() {
            ConnectionLogFilter filter;
            std::string pending;
            char buffer[4096];
            ssize_t n = 0;
            while ((n = read(from, buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR)) {
                pending.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
                size_t end = 0;
                while ((end = pending.find('\n')) != std::string::npos) {
                    const std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    if (filter.keep(line)) {
                        std::fprintf(stderr, "%s\n", line.c_str());
                    }
                }
            }
            if (!pending.empty()) {
                std::fprintf(stderr, "%s\n", pending.c_str());
            }
            close(from);
        });
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    NullBuffer null_buffer;
    std::streambuf* cerr_buffer = std::cerr.rdbuf();
    if (!g_verbose) {
        std::cerr.rdbuf(&null_buffer);
    }
    qInstallMessageHandler(message_handler);

    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    CliEnvironment env;
    env.out = out;
    env.err = stderr;
    env.out_is_terminal = isatty(out_fd) == 1;
    env.err_is_terminal = isatty(STDERR_FILENO) == 1;
    env.cancel = &g_cancel;
    env.err_columns = []() {
        winsize size{};
        return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? static_cast<int>(size.ws_col) : 0;
    };
    env.now = []() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const int status = cli_run(arguments, env);

    std::cerr.rdbuf(cerr_buffer);
    std::fclose(out);
    if (log_copier.joinable()) {
        // The last copy of the pipe's writing end closes, and the copier drains it.
        std::fflush(stdout);
        const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0) {
            dup2(null_fd, STDOUT_FILENO);
            close(null_fd);
        } else {
            close(STDOUT_FILENO);
        }
        log_copier.join();
    }
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    return status;
}
