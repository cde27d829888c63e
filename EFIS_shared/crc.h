// CRC of the STM32 hardware CRC unit in its reset configuration, fed with 32-bit words:
// CRC-32/MPEG-2 of the words written most significant byte first.
#pragma once

#include <cstdint>
#include <cstring>

#include "settings_types.h"

[[maybe_unused]] static uint32_t EFIS_crc(uint32_t* data, uint32_t words) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < words; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 32; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
        }
    }
    return crc;
}

// The count of covered words comes from the record itself; a count above the 31 words the
// record holds is clamped so that the CRC never reads past the record.
[[maybe_unused]] static uint32_t settings_CalcCRC(const Settings_t* s) {
    if (s->crc32 == 0xFFFFFFFFu) {
        return 0;
    }
    uint32_t words[SETTINGS_MAX_CRC_WORDS] = {};
    std::memcpy(words, reinterpret_cast<const unsigned char*>(s) + offsetof(Settings_t, magic),
                sizeof(words));
    uint32_t count =
        s->num_elements < SETTINGS_MAX_CRC_WORDS ? s->num_elements : SETTINGS_MAX_CRC_WORDS;
    return EFIS_crc(words, count);
}
