// External MX25 serial flash: firmware bank identifiers and layout.
#pragma once

#include <cstdint>

enum mx25_partition : uint32_t {
    partition_none = 0x00000000,
    partition_1 = 0xB1B1B1B1,
    partition_2 = 0xB2B2B2B2,
    partition_debug = 0xB3B3B3B3,
    partition_unknown = 0xFFFFFFFF,
};

inline constexpr uint32_t MX25_SECTOR_SIZE = 4096;
inline constexpr uint32_t MX25_BLOCK_SIZE = 65536;
inline constexpr uint32_t MX25_MAX_WRITE = 64;

// Airport database: blocks 0 to 831, always starting at address 0.
inline constexpr uint32_t AIRPORT_DB_START_BLOCK = 0;
inline constexpr uint32_t AIRPORT_DB_NUM_BLOCKS = 832;

// Firmware banks, 64 blocks each; the image header is a bank's first 64 bytes.
inline constexpr uint32_t FW_BANK_NUM_BLOCKS = 64;
inline constexpr uint32_t FW_BANK1_START_BLOCK = 832;
inline constexpr uint32_t FW_BANK2_START_BLOCK = 896;
inline constexpr uint32_t MX25_LAST_BLOCK = 959;

static_assert(sizeof(mx25_partition) == 4, "partition word");
static_assert(AIRPORT_DB_START_BLOCK + AIRPORT_DB_NUM_BLOCKS == FW_BANK1_START_BLOCK,
              "airport region ends where bank 1 begins");
static_assert(FW_BANK1_START_BLOCK + FW_BANK_NUM_BLOCKS == FW_BANK2_START_BLOCK, "bank 2");
static_assert(FW_BANK2_START_BLOCK + FW_BANK_NUM_BLOCKS - 1 == MX25_LAST_BLOCK, "end of bank 2");
