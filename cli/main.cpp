// efis-cli's process: the streams, Ctrl-C and the clock around cli_run.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>
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

struct LogFilter {
    ConnectionLogFilter lines;
    std::string pending;
};
LogFilter g_log_filter;

// Called under the stream's lock with what stdio buffered; passes whole lines on.
ssize_t filtered_log_write(void* cookie, const char* buffer, size_t size) {
    auto* filter = static_cast<LogFilter*>(cookie);
    filter->pending.append(buffer, size);
    size_t end = 0;
    while ((end = filter->pending.find('\n')) != std::string::npos) {
        const std::string line = filter->pending.substr(0, end);
        filter->pending.erase(0, end + 1);
        if (filter->lines.keep(line)) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }
    return static_cast<ssize_t>(size);
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
    const int log_fd = g_verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out == nullptr || log_fd < 0 || dup2(log_fd, STDOUT_FILENO) < 0) {
        std::perror("efis-cli: standard output");
        pthread_kill(watcher.native_handle(), SIGUSR1);
        watcher.join();
        return 1;
    }
    close(log_fd);
    // The layers print their log with stdio: with --verbose it passes the filter on its way
    // to standard error, in the writer's own thread, so that it keeps its order with the
    // tool's messages.
    if (g_verbose) {
        static const cookie_io_functions_t filtered{nullptr, filtered_log_write, nullptr, nullptr};
        FILE* log = fopencookie(&g_log_filter, "w", filtered);
        if (log != nullptr) {
            stdout = log;
        }
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
    std::fflush(stdout);
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    return status;
}
