// The NOR flash model on its own.
#include <gtest/gtest.h>

#include <algorithm>
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
        const std::vector<emu::ProgrammedRun> stored_runs = storing.programmed_runs();
        ASSERT_EQ(stored_runs.size(), runs.size()) << "the modes disagree on what was programmed";
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(stored_runs[i].address, runs[i].address) << i;
            EXPECT_EQ(stored_runs[i].length, runs[i].length) << i;
            EXPECT_EQ(stored_runs[i].crc_known, runs[i].crc_known) << i;
            EXPECT_EQ(stored_runs[i].crc32, runs[i].crc32) << i;
        }
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

TEST(NorFlash, ProgrammedLengthFollowsTouchingRunsAndStopsAtAGap) {
    for (const bool checking : {false, true}) {
        SCOPED_TRACE(checking ? "checking" : "storing");
        emu::NorFlash f;
        f.set_checking(checking);
        const std::vector<uint8_t> ff(64, 0xFF);
        f.program(0x1000, ff.data(), 64);  // erased-looking bytes count as programmed
        f.program(0x0FC0, ff.data(), 64);  // a run of its own, touching the next
        f.program(0x1040, ff.data(), 12);
        f.program(0x1100, ff.data(), 4);
        EXPECT_EQ(f.programmed_length(0x0FC0), 140u);
        EXPECT_EQ(f.programmed_length(0x1001), 75u);
        EXPECT_EQ(f.programmed_length(0x104C), 0u);
        EXPECT_EQ(f.programmed_length(0x0FBF), 0u);
        EXPECT_EQ(f.programmed_length(0x1102), 2u);
        f.erase_sector(0);
        EXPECT_EQ(f.programmed_length(0x0FC0), 0u);
        EXPECT_EQ(f.programmed_length(0x1000), 76u);
    }
}

TEST(NorFlashChecking, KeptBytesReadBackAsProgrammed) {
    emu::NorFlash f;
    f.keep_bytes(0x2010, 8);
    f.set_checking(true);
    const std::vector<uint8_t> bytes = data(32, 0x41);
    f.program(0x2000, bytes.data(), 32);
    std::vector<uint8_t> expected(32, 0x00);
    std::copy(bytes.begin() + 16, bytes.begin() + 24, expected.begin() + 16);
    EXPECT_EQ(f.read(0x2000, 32), expected);
    EXPECT_EQ(f.read(0x2014, 8), (std::vector<uint8_t>{bytes[20], bytes[21], bytes[22], bytes[23],
                                                       0x00, 0x00, 0x00, 0x00}));
    const std::vector<uint8_t> mask(8, 0x0F);
    f.set_checking(true);  // erases; the kept stretch stays kept
    f.program(0x2010, bytes.data(), 8);
    f.program(0x2010, mask.data(), 8);
    std::vector<uint8_t> anded(bytes.begin(), bytes.begin() + 8);
    for (uint8_t& b : anded) {
        b &= 0x0F;
    }
    EXPECT_EQ(f.read(0x2010, 8), anded);
    f.erase_sector(2);
    EXPECT_EQ(f.read(0x2010, 8), std::vector<uint8_t>(8, 0xFF));
    f.fill(0x200C, bytes.data(), 8);
    EXPECT_EQ(f.read(0x2010, 4), (std::vector<uint8_t>{bytes[4], bytes[5], bytes[6], bytes[7]}));
}

}  // namespace
