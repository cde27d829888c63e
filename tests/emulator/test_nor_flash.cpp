// The NOR flash model on its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/crc32.h"
#include "emulator/nor_flash.h"

namespace {

constexpr uint32_t kFlashSize = 960u * 65536u;

std::vector<uint8_t> data(uint32_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 3);
    }
    return v;
}

uint32_t crc_of(const std::vector<uint8_t>& bytes) {
    return emu::crc32_update(0, bytes.data(), bytes.size());
}

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

TEST(Crc32, CheckValueAndResumption) {
    const std::string check = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(emu::crc32_update(0, p, 9), 0xCBF43926u);
    EXPECT_EQ(emu::crc32_update(emu::crc32_update(0, p, 4), p + 4, 5), 0xCBF43926u);
    EXPECT_EQ(emu::crc32_update(0, p, 0), 0u);
}

// One step applied to a storing and a checking flash alike.
struct Step {
    enum Kind { Program, Fill, EraseSector } kind;
    uint32_t address;  // sector number for EraseSector
    uint32_t length;
    uint8_t seed;
};

struct RunCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<emu::ProgrammedRun> runs;  // crc32 left 0: it is taken from the storing flash
};

void apply(emu::NorFlash& f, const Step& s) {
    const std::vector<uint8_t> bytes = data(s.length, s.seed);
    if (s.kind == Step::Program) {
        f.program(s.address, bytes.data(), s.length);
    } else if (s.kind == Step::Fill) {
        f.fill(s.address, bytes.data(), s.length);
    } else {
        f.erase_sector(s.address);
    }
}

TEST(NorFlashChecking, RunsAndTheirCrcsMatchWhatAStoringFlashHolds) {
    using S = Step;
    const RunCase cases[] = {
        {"packets in a row make one run",
         {{S::Program, 0x1000, 64, 1}, {S::Program, 0x1040, 64, 2}, {S::Program, 0x1080, 12, 3}},
         {{0x1000, 140, 0, true}}},
        {"across a sector boundary, then apart",
         {{S::Program, 0x0FC0, 128, 4}, {S::Program, 0x2000, 64, 5}},
         {{0x0FC0, 128, 0, true}, {0x2000, 64, 0, true}}},
        {"bytes beyond the end are lost",
         {{S::Program, kFlashSize - 32, 64, 6}},
         {{kFlashSize - 32, 32, 0, true}}},
        {"a write just before a run is a run of its own",
         {{S::Program, 0x140, 64, 7}, {S::Program, 0x100, 64, 8}},
         {{0x100, 64, 0, true}, {0x140, 64, 0, true}}},
        {"an erased run is gone and a new one starts afresh",
         {{S::Program, 0x3000, 64, 9}, {S::EraseSector, 3, 0, 0}, {S::Program, 0x3000, 32, 10}},
         {{0x3000, 32, 0, true}}},
        {"a sector erase cuts a run in two without CRCs",
         {{S::Program, 0x0800, 0x2000, 11}, {S::EraseSector, 1, 0, 0}},
         {{0x0800, 0x800, 0, false}, {0x2000, 0x800, 0, false}}},
        {"bytes programmed twice lose their CRC",
         {{S::Program, 0x100, 64, 12}, {S::Program, 0x120, 64, 13}},
         {{0x100, 0x20, 0, false}, {0x120, 64, 0, false}}},
        {"a fill is a run of known bytes",
         {{S::Fill, 0x500, 100, 14}, {S::Program, 0x564, 28, 15}},
         {{0x500, 128, 0, true}}},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        emu::NorFlash storing;
        emu::NorFlash checking;
        checking.set_checking(true);
        for (const Step& s : c.steps) {
            apply(storing, s);
            apply(checking, s);
        }
        const std::vector<emu::ProgrammedRun> runs = checking.programmed_runs();
        ASSERT_EQ(runs.size(), c.runs.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].address, c.runs[i].address) << i;
            EXPECT_EQ(runs[i].length, c.runs[i].length) << i;
            EXPECT_EQ(runs[i].crc_known, c.runs[i].crc_known) << i;
            if (runs[i].crc_known) {
                EXPECT_EQ(runs[i].crc32, crc_of(storing.read(runs[i].address, runs[i].length)))
                    << i;
            }
        }
    }
}

TEST(NorFlashChecking, TellsProgrammedFromErasedBytesWithoutTheirValues) {
    emu::NorFlash f;
    const std::vector<uint8_t> stored = data(16, 0x20);
    f.program(0x40, stored.data(), 16);
    f.set_checking(true);
    EXPECT_TRUE(f.is_erased(0, 0x1000)) << "switching modes leaves the chip erased";
    EXPECT_TRUE(f.programmed_runs().empty());

    const std::vector<uint8_t> bytes = data(64, 0x30);
    f.program(0x1000, bytes.data(), 64);
    EXPECT_TRUE(f.is_erased(0x0FC0, 64));
    EXPECT_FALSE(f.is_erased(0x0FC1, 64));
    EXPECT_FALSE(f.is_erased(0x103F, 1));
    EXPECT_TRUE(f.is_erased(0x1040, 64));
    EXPECT_EQ(f.read(0x0FFF, 3), (std::vector<uint8_t>{0xFF, 0x00, 0x00}));
    EXPECT_EQ(f.read(0x103F, 2), (std::vector<uint8_t>{0x00, 0xFF}));

    f.erase_all();
    EXPECT_TRUE(f.is_erased(0x1000, 64));
    f.program(0x1000, bytes.data(), 64);
    f.set_checking(false);
    EXPECT_TRUE(f.is_erased(0x1000, 64));
    EXPECT_TRUE(f.programmed_runs().empty());
    f.program(0x1000, bytes.data(), 64);
    EXPECT_EQ(f.read(0x1000, 64), bytes);
}

}  // namespace
