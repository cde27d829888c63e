// The emulated programs only (efis-config-emulated, efis-cli-emulated): the emulated unit is
// set up from the environment before main, and signals pull and plug in its cable, so that
// scripts, tests and users can try either generation and the tool's reconnection.
//   EFIS_EMU_GENERATION=legacy   a legacy unit (default: current)
//   EFIS_EMU_UNITS=N             N units, each on its own USB interface (default 1)
//   EFIS_EMU_SERIAL=N[,N...]     their serial numbers (decimal or 0x...), in order; units
//                                without one count on from the last one given
//   EFIS_EMU_LATENCY_US=N        latency added to every answer, for uploads that take a while
//   EFIS_EMU_REBOOT_MS=N         how long the unit is gone after Reboot EFIS
//   EFIS_EMU_UNPLUGGED=1         the program starts with the unit unplugged
//   kill -USR1 PID / -USR2 PID   unplug / plug in the unit
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "emulator/hidapi/emulated_hidapi.h"

namespace {

constexpr unsigned long kMaxUnits = 8;
constexpr uint32_t kDefaultSerial = 0x00C0FFEE;

// "0x00C0FFEE,0x00BADA55": the numbers up to the first that does not read as one.
std::vector<uint32_t> serial_list(const char* name) {
    std::vector<uint32_t> serials;
    const char* text = std::getenv(name);
    while (text != nullptr && *text != '\0') {
        char* end = nullptr;
        const unsigned long value = std::strtoul(text, &end, 0);
        if (end == text || (*end != '\0' && *end != ',')) {
            break;
        }
        serials.push_back(static_cast<uint32_t>(value));
        text = *end == ',' ? end + 1 : end;
    }
    return serials;
}

bool number(const char* name, unsigned long* value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return *end == '\0';
}

// The signals are blocked before main, so every thread the program starts inherits the mask,
// and one thread takes them with sigwait: the unit is never touched from a signal handler.
void watchCableSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return;
    }
    // The thread blocks every signal, so that those the program handles itself (efis-cli's
    // Ctrl-C, taken by its own thread) never land here.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    std::thread([signals]() {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) {
                continue;
            }
            if (signal == SIGUSR1) {
                emu_hid::unplug();
            } else if (signal == SIGUSR2) {
                emu_hid::plug();
            }
        }
    }).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

struct EmulatedUnitFromEnvironment {
    EmulatedUnitFromEnvironment() {
        const char* generation = std::getenv("EFIS_EMU_GENERATION");
        unsigned long value = 0;
        if (number("EFIS_EMU_UNITS", &value) && value > 1 && value <= kMaxUnits) {
            emu_hid::set_unit_count(value);
        }
        const std::vector<uint32_t> serials = serial_list("EFIS_EMU_SERIAL");
        for (size_t i = 0; i < emu_hid::unit_count(); ++i) {
            if (i < serials.size()) {
                emu_hid::unit(i).set_serial(serials[i]);
            } else if (!serials.empty()) {
                emu_hid::unit(i).set_serial(serials.back() +
                                            static_cast<uint32_t>(i + 1 - serials.size()));
            } else if (i > 0) {
                emu_hid::unit(i).set_serial(kDefaultSerial + static_cast<uint32_t>(i));
            }
            if (generation != nullptr && std::strcmp(generation, "legacy") == 0) {
                emu_hid::unit(i).set_generation(emu::Generation::Legacy);
            }
        }
        if (number("EFIS_EMU_LATENCY_US", &value)) {
            emu_hid::set_latency_us(static_cast<uint32_t>(value));
        }
        if (number("EFIS_EMU_REBOOT_MS", &value)) {
            for (size_t i = 0; i < emu_hid::unit_count(); ++i) {
                emu_hid::unit(i).set_reboot_ms(static_cast<uint32_t>(value));
            }
        }
        if (number("EFIS_EMU_UNPLUGGED", &value) && value != 0) {
            emu_hid::unplug();
        }
        watchCableSignals();
    }
};

const EmulatedUnitFromEnvironment kSetUp;

}  // namespace
