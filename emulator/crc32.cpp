#include "emulator/crc32.h"

#include <array>

namespace emu {

namespace {

std::array<uint32_t, 256> make_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length) {
    static const std::array<uint32_t, 256> kTable = make_table();
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i) {
        c = kTable[(c ^ bytes[i]) & 0xFFu] ^ (c >> 8);
    }
    return ~c;
}

}  // namespace emu
