// Flash operation codes, firmware version word and firmware image header.
#pragma once

#include <cstddef>
#include <cstdint>

enum FlashOpType : uint8_t {
    OP_NONE = 0x00,
    OP_CHIP_ERASE = 0xCE,
    OP_SECTOR_ERASE = 0xAE,
    OP_BLOCK_ERASE = 0xBE,
    OP_WRITE = 0xAA,
    OP_READ = 0xDD,
    OP_SETADDR = 0xA1,
    OP_GETPART = 0xAC,
};

// version = major << 24 | minor << 16 | patch << 8 | rc
union fwversion_t {
    uint32_t version;
    struct {
        uint8_t rc;
        uint8_t patch;
        uint8_t minor;
        uint8_t major;
    } fields;
};

// First 64 bytes of a firmware image file, sent unchanged as the bank's first write.
struct firmware_header_t {
    uint32_t magic;
    uint32_t version;
    uint32_t total_size;
    uint32_t plaintext_size;
    uint32_t encrypted_size;
    uint32_t crc32_plaintext;
    uint32_t crc32_encrypted;
    uint32_t iv[4];
    uint32_t offset;
    uint32_t padding[4];
};

static_assert(sizeof(FlashOpType) == 1, "op code is one byte on the wire");
static_assert(sizeof(fwversion_t) == 4, "version word");
static_assert(sizeof(firmware_header_t) == 64, "firmware header is 64 bytes");
static_assert(offsetof(firmware_header_t, total_size) == 8, "total_size");
static_assert(offsetof(firmware_header_t, plaintext_size) == 12, "plaintext_size");
static_assert(offsetof(firmware_header_t, encrypted_size) == 16, "encrypted_size");
static_assert(offsetof(firmware_header_t, crc32_plaintext) == 20, "crc32_plaintext");
static_assert(offsetof(firmware_header_t, crc32_encrypted) == 24, "crc32_encrypted");
static_assert(offsetof(firmware_header_t, iv) == 28, "iv");
static_assert(offsetof(firmware_header_t, offset) == 44, "offset");
static_assert(offsetof(firmware_header_t, padding) == 48, "padding");
