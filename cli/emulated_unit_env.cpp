// efis-cli-emulated only: the emulated unit is set up from the environment before main, so
// that scripts and tests can try the command line on either generation.
//   EFIS_EMU_GENERATION=legacy   a legacy unit (default: current)
//   EFIS_EMU_SERIAL=N            its serial number (decimal or 0x...)
//   EFIS_EMU_LATENCY_US=N        latency added to every answer, for uploads that take a while
#include <cstdlib>
#include <cstring>

#include "emulator/hidapi/emulated_hidapi.h"

namespace {

bool number(const char* name, unsigned long* value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return *end == '\0';
}

struct EmulatedUnitFromEnvironment {
    EmulatedUnitFromEnvironment() {
        const char* generation = std::getenv("EFIS_EMU_GENERATION");
        if (generation != nullptr && std::strcmp(generation, "legacy") == 0) {
            emu_hid::unit().set_generation(emu::Generation::Legacy);
        }
        unsigned long value = 0;
        if (number("EFIS_EMU_SERIAL", &value)) {
            emu_hid::unit().set_serial(static_cast<uint32_t>(value));
        }
        if (number("EFIS_EMU_LATENCY_US", &value)) {
            emu_hid::set_latency_us(static_cast<uint32_t>(value));
        }
    }
};

const EmulatedUnitFromEnvironment kSetUp;

}  // namespace
