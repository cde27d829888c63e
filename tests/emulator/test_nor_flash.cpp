// The NOR flash model on its own.
#include <gtest/gtest.h>

#include "emulator/nor_flash.h"

namespace {

TEST(NorFlash, ErasedUntilProgrammedAndProgramOnlyClearsBits) {
    emu::NorFlash f;
    EXPECT_EQ(f.read(0x1FFE, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_TRUE(f.is_erased(0, 64));
    const uint8_t a[] = {0xF0, 0x0F};
    f.program(0x0FFF, a, 2);  // across a sector boundary
    EXPECT_EQ(f.read(0x0FFE, 4), (std::vector<uint8_t>{0xFF, 0xF0, 0x0F, 0xFF}));
    const uint8_t b[] = {0xFF, 0xFF};
    f.program(0x0FFF, b, 2);
    EXPECT_EQ(f.read(0x0FFF, 2), (std::vector<uint8_t>{0xF0, 0x0F}));
    EXPECT_FALSE(f.is_erased(0x0FF0, 16));
    f.erase_sector(0);
    EXPECT_EQ(f.read(0x0FFF, 2), (std::vector<uint8_t>{0xFF, 0x0F}));
    f.erase_all();
    EXPECT_TRUE(f.is_erased(0x0FFF, 2));
}

TEST(NorFlash, RangeAndEnd) {
    constexpr uint32_t kSize = 960u * 65536u;
    EXPECT_EQ(emu::NorFlash::kSize, kSize);
    EXPECT_TRUE(emu::NorFlash::in_range(kSize - 64, 64));
    EXPECT_FALSE(emu::NorFlash::in_range(kSize - 63, 64));
    EXPECT_FALSE(emu::NorFlash::in_range(0xFFFFFFF0u, 0x20));
    EXPECT_TRUE(emu::NorFlash::in_range(kSize, 0));
    emu::NorFlash f;
    const uint8_t z[] = {0, 0};
    f.fill(kSize - 1, z, 2);
    EXPECT_EQ(f.read(kSize - 1, 2), (std::vector<uint8_t>{0x00, 0xFF}));
}

}  // namespace
