// efis-cli-emulated as a process: what a terminal, a pipe and Ctrl-C see.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"

namespace {

struct Process {
    pid_t pid = -1;
    int out = -1;  // standard output (and error, on a terminal)
    int err = -1;
    std::string out_text;
    std::string err_text;
    int status = -1;
};

// Starts efis-cli-emulated; with `terminal` both its outputs are one pseudo-terminal.
Process start(const std::vector<std::string>& args, bool terminal,
              const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv_text = {EFIS_CLI_EMULATED};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    Process p;
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (terminal) {
        p.pid = forkpty(&p.out, nullptr, nullptr, nullptr);
    } else {
        EXPECT_EQ(pipe(out_pipe), 0);
        EXPECT_EQ(pipe(err_pipe), 0);
        p.pid = fork();
    }
    if (p.pid == 0) {
        if (!terminal) {
            dup2(out_pipe[1], STDOUT_FILENO);
            dup2(err_pipe[1], STDERR_FILENO);
        }
        for (const std::string& e : env) {
            putenv(const_cast<char*>(e.c_str()));
        }
        std::vector<char*> argv;
        for (std::string& a : argv_text) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (!terminal) {
        close(out_pipe[1]);
        close(err_pipe[1]);
        p.out = out_pipe[0];
        p.err = err_pipe[0];
    }
    return p;
}

// Reads what the process writes until `until` appears on standard error (or output, on a
// terminal), or it ends, or the time runs out. False on time-out.
bool read_until(Process* p, const std::string& until, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (!until.empty() &&
            ((p->err >= 0 ? p->err_text : p->out_text).find(until) != std::string::npos)) {
            return true;
        }
        std::vector<pollfd> fds;
        for (const int fd : {p->out, p->err}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
            }
        }
        if (fds.empty()) {
            return until.empty();
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || poll(fds.data(), fds.size(), static_cast<int>(left)) <= 0) {
            return false;
        }
        for (const pollfd& f : fds) {
            if ((f.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(f.fd, buffer, sizeof(buffer));
            const bool is_out = f.fd == p->out;
            if (n <= 0) {
                close(f.fd);
                (is_out ? p->out : p->err) = -1;
            } else {
                (is_out ? p->out_text : p->err_text).append(buffer, static_cast<size_t>(n));
            }
        }
    }
}

// Reads to the end and reaps the process within the time; its exit status, -1 on time-out.
int finish(Process* p, int seconds) {
    if (!read_until(p, std::string(), seconds)) {
        kill(p->pid, SIGKILL);
        waitpid(p->pid, nullptr, 0);
        return -1;
    }
    int status = 0;
    waitpid(p->pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CliProcess : public ::testing::Test {
protected:
    void SetUp() override {
        image = testing::TempDir() + "cli_process_" + std::to_string(getpid()) + ".bin";
        firmware_header_t h;
        std::memset(&h, 0, sizeof(h));
        h.magic = 0x45464953;
        h.total_size = h.plaintext_size = h.encrypted_size = 200 * 1024;
        h.offset = 64;
        std::ofstream f(image, std::ios::binary);
        f.write(reinterpret_cast<const char*>(&h), sizeof(h));
        f.write(std::string(200 * 1024, '\x5A').data(), 200 * 1024);
    }
    void TearDown() override { std::remove(image.c_str()); }
    std::string image;
};

TEST_F(CliProcess, UploadToAPipePrintsPlainLinesAndKeepsTheProtocolLogOff) {
    Process p = start({"firmware", image}, false);
    EXPECT_EQ(finish(&p, 120), 0) << p.err_text;
    EXPECT_NE(p.err_text.find("Writing: 200.0 KiB of 200.0 KiB (100%)"), std::string::npos)
        << p.err_text;
    EXPECT_EQ(p.err_text.find('\r'), std::string::npos);
    EXPECT_NE(p.out_text.find("Firmware update completed\n"), std::string::npos) << p.out_text;
    EXPECT_EQ(p.out_text.find("send_fw"), std::string::npos) << p.out_text;
    EXPECT_EQ(p.err_text.find("send_fw"), std::string::npos);

    Process verbose = start({"--verbose", "info"}, false);
    EXPECT_EQ(finish(&verbose, 60), 0);
    EXPECT_NE(verbose.err_text.find("Attempting to connect to USB HID device"), std::string::npos);
    EXPECT_EQ(verbose.out_text.find("Attempting"), std::string::npos) << verbose.out_text;
}

TEST_F(CliProcess, UploadOnATerminalRedrawsItsLine) {
    Process p = start({"airports", image}, true);
    EXPECT_EQ(finish(&p, 120), 0) << p.out_text;
    EXPECT_NE(p.out_text.find("\rWriting: "), std::string::npos) << p.out_text;
    EXPECT_NE(p.out_text.find("Airport database transfer finished"), std::string::npos);
}

TEST_F(CliProcess, OneCtrlCStopsTheUploadBetweenPackets) {
    // Slow answers, so that the upload is still writing when it is interrupted.
    Process p = start({"firmware", image}, false, {"EFIS_EMU_LATENCY_US=3000"});
    ASSERT_TRUE(read_until(&p, "Writing:", 60)) << p.err_text;
    kill(p.pid, SIGINT);
    EXPECT_EQ(finish(&p, 30), 5) << p.err_text;
    EXPECT_NE(p.err_text.find("interrupted"), std::string::npos) << p.err_text;
    EXPECT_NE(p.err_text.find("firmware update cancelled"), std::string::npos) << p.err_text;
    EXPECT_EQ(p.out_text.find("completed"), std::string::npos);
}

// SIGTERM stops like Ctrl-C; a second signal while stopping ends the program at once. The two
// are sent together, so that the second arrives while the packet under way is still awaited.
TEST_F(CliProcess, SignalsWhileUploading) {
    struct Case {
        std::vector<int> signals;
        const char* says;
    };
    const Case cases[] = {
        {{SIGTERM}, "firmware update cancelled"},
        {{SIGTERM, SIGINT}, "efis-cli: stopped at once\n"},
        {{SIGINT, SIGTERM}, "efis-cli: stopped at once\n"},
    };
    for (const Case& c : cases) {
        Process p = start({"firmware", "--no-backup", image}, false, {"EFIS_EMU_LATENCY_US=20000"});
        ASSERT_TRUE(read_until(&p, "Writing:", 60)) << p.err_text;
        for (const int s : c.signals) {
            kill(p.pid, s);
        }
        EXPECT_EQ(finish(&p, 30), 5) << p.err_text;
        EXPECT_NE(p.err_text.find("efis-cli: interrupted; stopping at the next step\n"),
                  std::string::npos)
            << p.err_text;
        EXPECT_NE(p.err_text.find(c.says), std::string::npos) << p.err_text;
        EXPECT_EQ(p.out_text.find("completed"), std::string::npos);
    }
}

// With CAN FD alone, the log does not claim that USB HID was tried; with both, it says so.
TEST_F(CliProcess, VerboseLogOfCanAloneNamesNoUsbAttempt) {
    Process p = start({"-v", "--link", "can", "--can-interface", "nosuch0", "info"}, false);
    EXPECT_EQ(finish(&p, 60), 3) << p.err_text;
    EXPECT_NE(p.err_text.find("Attempting to connect to CAN FD interface: nosuch0"),
              std::string::npos)
        << p.err_text;
    EXPECT_EQ(p.err_text.find("USB HID"), std::string::npos) << p.err_text;
    EXPECT_EQ(p.out_text, "");

    Process both =
        start({"-v", "--can-interface", "nosuch0", "info"}, false, {"EFIS_EMU_UNPLUGGED=1"});
    EXPECT_EQ(finish(&both, 60), 3);
    EXPECT_NE(both.err_text.find("Attempting to connect to USB HID device"), std::string::npos)
        << both.err_text;
    EXPECT_NE(both.err_text.find("Failed to connect via both USB HID and CAN FD\n"),
              std::string::npos)
        << both.err_text;
    EXPECT_NE(both.err_text.find("efis-cli: no unit answered on USB HID or CAN FD (nosuch0)\n"
                                 "  USB HID: no unit is attached\n  CAN FD (nosuch0): "),
              std::string::npos)
        << both.err_text;
}

// The CAN interface the window remembers is taken unless --can-interface names one.
TEST_F(CliProcess, RememberedCanInterface) {
    const std::string config = testing::TempDir() + "cli_config_" + std::to_string(getpid());
    mkdir(config.c_str(), 0700);
    mkdir((config + "/efis-config").c_str(), 0700);
    std::ofstream(config + "/efis-config/efis-config.conf") << "[link]\ncan_interface=vcan9\n";
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-v", "--link", "can", "info"}, "Attempting to connect to CAN FD interface: vcan9\n"},
        {{"-v", "--link", "can", "--can-interface", "can3", "info"},
         "Attempting to connect to CAN FD interface: can3\n"},
    };
    for (const auto& [args, says] : cases) {
        Process p = start(args, false, {"XDG_CONFIG_HOME=" + config});
        EXPECT_EQ(finish(&p, 60), 3) << p.err_text;
        EXPECT_NE(p.err_text.find(says), std::string::npos) << p.err_text;
    }
    std::remove((config + "/efis-config/efis-config.conf").c_str());
    rmdir((config + "/efis-config").c_str());
    rmdir(config.c_str());
}

TEST_F(CliProcess, LegacyUnitFromTheEnvironment) {
    Process p = start({"--json", "info"}, false,
                      {"EFIS_EMU_GENERATION=legacy", "EFIS_EMU_SERIAL=0x00AB0001"});
    EXPECT_EQ(finish(&p, 60), 0) << p.err_text;
    EXPECT_NE(p.out_text.find("\"generation\":\"legacy\""), std::string::npos) << p.out_text;
    EXPECT_NE(p.out_text.find("\"serial_number\":\"0x00ab0001\""), std::string::npos);
}

}  // namespace
