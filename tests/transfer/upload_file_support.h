// Upload files for the transfer tests: a firmware image (64-byte header, then the data)
// and an airport database, filled with reproducible bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"

namespace transfer_test {

using Bytes = std::vector<uint8_t>;

inline Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& byte : b) {
        byte = static_cast<uint8_t>(gen());
    }
    return b;
}

// The header says what the tool relies on: total_size sets the erase, encrypted_size the
// streamed length; the other fields are passed through unchanged.
inline Bytes firmware_image(uint32_t data_size, uint32_t seed) {
    firmware_header_t h;
    std::memset(&h, 0, sizeof h);
    h.magic = 0x4657494Du;
    h.version = 0x00020C00u;
    h.total_size = 64 + data_size;
    h.plaintext_size = data_size - data_size % 16;
    h.encrypted_size = data_size;
    h.crc32_plaintext = 0x11223344u;
    h.crc32_encrypted = 0x55667788u;
    h.iv[0] = 0xA1A2A3A4u;
    h.iv[3] = 0xB1B2B3B4u;
    h.offset = 64;
    Bytes image(sizeof h);
    std::memcpy(image.data(), &h, sizeof h);
    const Bytes data = random_bytes(data_size, seed);
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

inline bool write_file(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    return std::fclose(f) == 0 && written == bytes.size();
}

}  // namespace transfer_test
