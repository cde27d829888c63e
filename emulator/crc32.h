// CRC-32 as zip, PNG and Ethernet use it (reflected, polynomial 0xEDB88320), resumable:
// crc32_update(crc32_update(0, a), b) equals the CRC of a followed by b.
#pragma once

#include <cstddef>
#include <cstdint>

namespace emu {

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);

}  // namespace emu
