// efis-emu: the emulated EFIS unit on a real SocketCAN interface and/or a uhid device, for
// trying the tool without hardware. Runs until SIGINT or SIGTERM; SIGUSR1 unplugs the unit,
// SIGUSR2 plugs it in again.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "emulator/efis_unit.h"
#include "emulator/frontends/socketcan_frontend.h"
#include "emulator/frontends/uhid_frontend.h"
#include "tools/efis-emu/presence.h"

namespace {

constexpr uint16_t kDecoyUsagePage = 0xFF01;

struct Options {
    std::string can_interface;
    bool uhid = false;
    bool decoy = false;
    bool legacy = false;
    bool answers_current_whoami = false;
    bool version_given = false;
    uint8_t version[4] = {0, 0, 0, 0};  // major, minor, patch, rc
    bool serial_given = false;
    uint32_t serial = 0;
    bool partition_given = false;
    uint32_t partition = 0;
    bool silent = false;
    bool silent_can = false;
    bool silent_uhid = false;
    bool log = false;
    bool reboot_ms_given = false;
    uint32_t reboot_ms = 0;
};

void usage(FILE* out) {
    std::fputs(
        "Usage: efis-emu [--can IFACE] [--uhid] [options]\n"
        "Runs an emulated EFIS unit until interrupted.\n"
        "  --can IFACE         answer on this SocketCAN interface (CAN FD, e.g. can0)\n"
        "  --uhid              appear as the unit's USB HID device through /dev/uhid\n"
        "  --decoy             with --uhid: also a second HID device of the same IDs on usage\n"
        "                      page 0xFF01, which never answers\n"
        "  --legacy            legacy firmware generation (answers only the legacy identifiers)\n"
        "  --version X.Y.Z[.RC]  firmware version reported (default 0.2.12)\n"
        "  --current-whoami    with a version below 0.2.12: still answer the current WHOAMI\n"
        "  --serial N          serial number (decimal or 0x...)\n"
        "  --partition N       firmware bank named by the partition query (0xB1B1B1B1, ...)\n"
        "  --fault FAULT       ID[,answer=ack|flash|reply][,no-answer][,refuse][,wrong-length]\n"
        "                      [,wrong-status][,wrong-op][,wrong-address][,delay=MS]\n"
        "                      [,skip=N][,times=N]: a fault on one request identifier\n"
        "  --silent            answer nothing on any link (frames are still taken and logged)\n"
        "  --silent-can, --silent-uhid  answer nothing on that link only\n"
        "  --log               print every frame received\n"
        "  --reboot-ms MS      how long the unit is gone after the enter-boot-loader frame\n"
        "                      (default 2000)\n"
        "  --help\n"
        "Signals: SIGUSR1 unplugs the unit (the uhid device goes away, the CAN interface goes\n"
        "down), SIGUSR2 plugs it in again; the unit keeps its settings, flash and version.\n"
        "SIGINT and SIGTERM stop it.\n",
        out);
}

bool parse_u32(const char* text, uint32_t* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFull) {
        return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

bool parse_version(const char* text, uint8_t out[4]) {
    unsigned parts[4] = {0, 0, 0, 0};
    char tail = 0;
    const int n =
        std::sscanf(text, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail);
    if (n != 3 && n != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) {
            return false;
        }
        out[i] = static_cast<uint8_t>(parts[i]);
    }
    return true;
}

bool parse_fault(const std::string& fault_text, uint32_t* id, emu::Fault* fault) {
    size_t start = 0;
    bool first = true;
    while (start <= fault_text.size()) {
        size_t comma = fault_text.find(',', start);
        if (comma == std::string::npos) {
            comma = fault_text.size();
        }
        const std::string item = fault_text.substr(start, comma - start);
        start = comma + 1;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string val = eq == std::string::npos ? "" : item.substr(eq + 1);
        uint32_t n = 0;
        if (first) {
            if (!parse_u32(item.c_str(), id)) {
                return false;
            }
            first = false;
        } else if (key == "answer" && val == "ack") {
            fault->answer = emu::AnswerKind::CommandAck;
        } else if (key == "answer" && val == "flash") {
            fault->answer = emu::AnswerKind::FlashAck;
        } else if (key == "answer" && val == "reply") {
            fault->answer = emu::AnswerKind::Reply;
        } else if (item == "no-answer") {
            fault->no_answer = true;
        } else if (item == "refuse") {
            fault->refuse = true;
        } else if (item == "wrong-length") {
            fault->wrong_length = true;
        } else if (item == "wrong-status") {
            fault->wrong_status = true;
        } else if (item == "wrong-op") {
            fault->wrong_op_code = true;
        } else if (item == "wrong-address") {
            fault->wrong_address = true;
        } else if (key == "delay" && parse_u32(val.c_str(), &n)) {
            fault->delay_ms = n;
        } else if (key == "skip" && parse_u32(val.c_str(), &n)) {
            fault->skip_first = n;
        } else if (key == "times" && parse_u32(val.c_str(), &n) && n <= 0x7FFFFFFF) {
            fault->times = static_cast<int32_t>(n);
        } else {
            return false;
        }
    }
    return !first;
}

std::mutex g_log_mutex;

void print_line(FILE* out, const std::string& line) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

int ms_until(std::chrono::steady_clock::time_point t) {
    const auto left = t - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    // Rounded up, so that the wait does not end just before the time.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Serves the signals and the unit's restarts until SIGINT or SIGTERM; returns that signal.
int run(int signal_fd, int reboot_fd, efis_emu::Presence& presence) {
    for (;;) {
        const std::optional<std::chrono::steady_clock::time_point> next = presence.next_tick();
        pollfd fds[2] = {{signal_fd, POLLIN, 0}, {reboot_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, next ? ms_until(*next) : -1);
        if (ready < 0 && errno != EINTR) {
            print_line(stderr, std::string("efis-emu: poll: ") + std::strerror(errno));
            return 0;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            uint64_t count = 0;
            if (read(reboot_fd, &count, sizeof(count)) == static_cast<ssize_t>(sizeof(count))) {
                presence.reboot(std::chrono::steady_clock::now());
            }
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            std::memset(&info, 0, sizeof(info));
            if (read(signal_fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
                const int sig = static_cast<int>(info.ssi_signo);
                if (sig == SIGUSR1) {
                    presence.unplug();
                } else if (sig == SIGUSR2) {
                    presence.plug();
                } else {
                    return sig;
                }
            }
        }
        presence.tick(std::chrono::steady_clock::now());
    }
}

void log_frame(const char* link, const COMMS_MSG_t& msg) {
    const uint32_t id = msg.can_ID;
    const uint8_t len = can_msg_payload_len(msg.msg_len);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::printf("%s rx id=0x%03" PRIX32 " len=%u:", link, id, len);
    for (uint8_t i = 0; i < len; ++i) {
        std::printf(" %02X", msg.data[i]);
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    enum { kCurrentWhoami = 256, kSilentCan, kSilentUhid, kRebootMs };
    const option long_options[] = {
        {"can", required_argument, nullptr, 'c'},
        {"uhid", no_argument, nullptr, 'u'},
        {"decoy", no_argument, nullptr, 'd'},
        {"legacy", no_argument, nullptr, 'L'},
        {"version", required_argument, nullptr, 'V'},
        {"current-whoami", no_argument, nullptr, kCurrentWhoami},
        {"serial", required_argument, nullptr, 's'},
        {"partition", required_argument, nullptr, 'p'},
        {"fault", required_argument, nullptr, 'f'},
        {"silent", no_argument, nullptr, 'S'},
        {"silent-can", no_argument, nullptr, kSilentCan},
        {"silent-uhid", no_argument, nullptr, kSilentUhid},
        {"log", no_argument, nullptr, 'l'},
        {"reboot-ms", required_argument, nullptr, kRebootMs},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    Options opt;
    emu::EfisUnit unit;
    struct PendingFault {
        uint32_t id;
        emu::Fault fault;
    };
    std::vector<PendingFault> faults;
    int c = 0;
    while ((c = getopt_long(argc, argv, "", long_options, nullptr)) != -1) {
        switch (c) {
        case 'c':
            opt.can_interface = optarg;
            break;
        case 'u':
            opt.uhid = true;
            break;
        case 'd':
            opt.decoy = true;
            break;
        case 'L':
            opt.legacy = true;
            break;
        case 'V':
            if (!parse_version(optarg, opt.version)) {
                std::fprintf(stderr, "efis-emu: bad version '%s' (want X.Y.Z or X.Y.Z.RC)\n",
                             optarg);
                return 2;
            }
            opt.version_given = true;
            break;
        case kCurrentWhoami:
            opt.answers_current_whoami = true;
            break;
        case 's':
            if (!parse_u32(optarg, &opt.serial)) {
                std::fprintf(stderr, "efis-emu: bad serial number '%s'\n", optarg);
                return 2;
            }
            opt.serial_given = true;
            break;
        case 'p':
            if (!parse_u32(optarg, &opt.partition)) {
                std::fprintf(stderr, "efis-emu: bad partition value '%s'\n", optarg);
                return 2;
            }
            opt.partition_given = true;
            break;
        case 'f': {
            PendingFault f{0, emu::Fault{}};
            if (!parse_fault(optarg, &f.id, &f.fault)) {
                std::fprintf(stderr, "efis-emu: bad fault '%s'\n", optarg);
                return 2;
            }
            faults.push_back(f);
            break;
        }
        case 'S':
            opt.silent = true;
            break;
        case kSilentCan:
            opt.silent_can = true;
            break;
        case kSilentUhid:
            opt.silent_uhid = true;
            break;
        case 'l':
            opt.log = true;
            break;
        case kRebootMs:
            if (!parse_u32(optarg, &opt.reboot_ms)) {
                std::fprintf(stderr, "efis-emu: bad reboot time '%s'\n", optarg);
                return 2;
            }
            opt.reboot_ms_given = true;
            break;
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (optind != argc || (opt.can_interface.empty() && !opt.uhid)) {
        usage(stderr);
        return 2;
    }

    if (opt.legacy) {
        unit.set_generation(emu::Generation::Legacy);
    }
    if (opt.version_given) {
        unit.set_version(opt.version[0], opt.version[1], opt.version[2], opt.version[3]);
    }
    unit.set_answers_current_whoami(opt.answers_current_whoami);
    if (opt.serial_given) {
        unit.set_serial(opt.serial);
    }
    if (opt.partition_given) {
        unit.set_partition_answer(opt.partition);
    }
    for (const PendingFault& f : faults) {
        unit.set_fault(f.id, f.fault);
    }
    if (opt.reboot_ms_given) {
        unit.set_reboot_ms(opt.reboot_ms);
    }

    // Signals are read from a signalfd by the main thread, so no thread may take them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
    // The serving threads report the unit's restarts here.
    const int reboot_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signal_fd < 0 || reboot_fd < 0) {
        std::fprintf(stderr, "efis-emu: cannot set up signals: %s\n", std::strerror(errno));
        return 1;
    }
    const auto report_reboot = [reboot_fd] {
        const uint64_t one = 1;
        // A full counter still wakes the main thread, so a failed add loses nothing.
        const ssize_t written = write(reboot_fd, &one, sizeof(one));
        static_cast<void>(written);
    };

    std::string error;
    std::unique_ptr<emu::SocketCanFrontend> can;
    if (!opt.can_interface.empty()) {
        can = std::make_unique<emu::SocketCanFrontend>(unit);
        if (!can->open(opt.can_interface, &error)) {
            std::fprintf(stderr, "efis-emu: CAN FD: %s\n", error.c_str());
            return 1;
        }
        can->set_silent(opt.silent || opt.silent_can);
        can->set_reboot_handler(report_reboot);
        if (opt.log) {
            can->set_frame_log([](const COMMS_MSG_t& m) { log_frame("can", m); });
        }
    }
    emu::EfisUnit decoy_unit;
    std::unique_ptr<emu::UhidFrontend> decoy;
    std::unique_ptr<emu::UhidFrontend> hid;
    if (opt.uhid) {
        if (opt.decoy) {
            decoy = std::make_unique<emu::UhidFrontend>(decoy_unit, kDecoyUsagePage);
            decoy->set_silent(true);
            if (!decoy->open(&error)) {
                std::fprintf(stderr, "efis-emu: USB HID: %s\n", error.c_str());
                return 1;
            }
        }
        hid = std::make_unique<emu::UhidFrontend>(unit);
        if (!hid->open(&error)) {
            std::fprintf(stderr, "efis-emu: USB HID: %s\n", error.c_str());
            return 1;
        }
        hid->set_silent(opt.silent || opt.silent_uhid);
        hid->set_reboot_handler(report_reboot);
        if (opt.log) {
            hid->set_frame_log([](const COMMS_MSG_t& m) { log_frame("usb", m); });
        }
    }
    if (can) {
        can->start();
    }
    if (decoy) {
        decoy->start();
    }
    if (hid) {
        hid->start();
    }
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        std::printf("efis-emu: ready (%s unit%s%s%s)\n",
                    unit.generation() == emu::Generation::Legacy ? "legacy" : "current",
                    can ? ", CAN FD on " : "", can ? opt.can_interface.c_str() : "",
                    hid ? ", USB HID on /dev/uhid" : "");
        std::fflush(stdout);
    }

    efis_emu::Presence presence(
        unit, hid.get(), can.get(), [](const std::string& line) { print_line(stdout, line); },
        [](const std::string& line) { print_line(stderr, line); });
    const int sig = run(signal_fd, reboot_fd, presence);
    presence.restore();
    if (hid) {
        hid->stop();
    }
    if (decoy) {
        decoy->stop();
    }
    if (can) {
        can->stop();
    }
    std::printf("efis-emu: stopped by signal %d after %u frames received\n", sig,
                static_cast<unsigned>(unit.received().size()));
    close(reboot_fd);
    close(signal_fd);
    return 0;
}
