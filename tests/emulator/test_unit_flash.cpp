// External flash commands, partition query, airport database and foreign identifiers.
#include <gtest/gtest.h>

#include <cstring>

#include "emulator/crc32.h"
#include "emulator/efis_unit.h"
#include "unit_test_support.h"

using namespace emu_test;

namespace {

constexpr uint32_t kFlashSize = 960u * 65536u;

std::vector<uint8_t> bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

class UnitFlash : public testing::TestWithParam<GenCase> {
protected:
    void SetUp() override { unit.set_generation(GetParam().gen); }

    std::vector<Expected> erase(uint8_t op, uint16_t n, uint8_t len = 3) {
        return frames_of(unit.handle(frame(
            GetParam().erase, len, {op, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)})));
    }
    std::vector<Expected> set_address(uint32_t a) {
        return frames_of(unit.handle(frame(GetParam().set_addr, 4, le32(a))));
    }
    std::vector<Expected> write(const std::vector<uint8_t>& data) {
        return frames_of(unit.handle(frame(
            GetParam().write, can_msg_len_from_payload(static_cast<uint8_t>(data.size())), data)));
    }

    emu::EfisUnit unit;
};

struct EraseCase {
    uint8_t op;
    uint16_t number;
    uint32_t address;
};

TEST_P(UnitFlash, EraseAnswersCommandAckThenFlashAckWithStartAddress) {
    const GenCase& g = GetParam();
    const EraseCase cases[] = {{0xBE, 897, 0x03810000},   {0xBE, 0, 0},
                               {0xBE, 959, 0x03BF0000},   {0xAE, 3, 0x00003000},
                               {0xAE, 15359, 0x03BFF000}, {0xCE, 0x1234, 0}};
    for (const EraseCase& c : cases) {
        EXPECT_EQ(erase(c.op, c.number),
                  (std::vector<Expected>{command_ack(g, g.erase, true),
                                         flash_ack(g, c.op, c.address, true)}))
            << std::hex << unsigned(c.op) << " " << c.number;
    }
}

TEST_P(UnitFlash, EraseRefusesBadRequests) {
    const GenCase& g = GetParam();
    const std::vector<Expected> refused{command_ack(g, g.erase, false)};
    EXPECT_EQ(erase(0xBE, 960), refused);
    EXPECT_EQ(erase(0xAE, 15360), refused);
    EXPECT_EQ(erase(0x12, 1), refused);
    EXPECT_EQ(erase(0xAA, 1), refused);
    EXPECT_EQ(erase(0xBE, 1, 2), refused);
    EXPECT_EQ(erase(0xBE, 1, 4), refused);
    EXPECT_TRUE(unit.erased_blocks().empty());
}

TEST_P(UnitFlash, EraseReturnsBytesToErasedStateOnlyInsideTheUnit) {
    unit.flash_fill(0x03810000 - 4, std::vector<uint8_t>(65536 + 8, 0x00));
    erase(0xBE, 897);
    EXPECT_EQ(unit.flash_read(0x03810000 - 4, 4), std::vector<uint8_t>(4, 0x00));
    EXPECT_EQ(unit.flash_read(0x03810000, 65536), std::vector<uint8_t>(65536, 0xFF));
    EXPECT_EQ(unit.flash_read(0x03820000, 4), std::vector<uint8_t>(4, 0x00));

    unit.flash_fill(0x2000, std::vector<uint8_t>(3 * 4096, 0x11));
    erase(0xAE, 3);
    EXPECT_EQ(unit.flash_read(0x2FFF, 1), std::vector<uint8_t>{0x11});
    EXPECT_EQ(unit.flash_read(0x3000, 4096), std::vector<uint8_t>(4096, 0xFF));
    EXPECT_EQ(unit.flash_read(0x4000, 1), std::vector<uint8_t>{0x11});

    erase(0xBE, 5);
    erase(0xBE, 4);
    EXPECT_EQ(unit.erased_blocks(), (std::vector<uint32_t>{897, 5, 4}));
    erase(0xCE, 0);
    EXPECT_EQ(unit.flash_read(0x2000, 4096), std::vector<uint8_t>(4096, 0xFF));
    EXPECT_EQ(unit.erased_blocks().size(), 3u + 960u);
}

TEST_P(UnitFlash, SetAddressEchoesAndRefusesBeyondTheFlash) {
    const GenCase& g = GetParam();
    EXPECT_EQ(set_address(0x03400000),
              (std::vector<Expected>{flash_ack(g, 0xA1, 0x03400000, true)}));
    EXPECT_EQ(unit.write_address(), 0x03400000u);
    EXPECT_EQ(set_address(kFlashSize - 1),
              (std::vector<Expected>{flash_ack(g, 0xA1, kFlashSize - 1, true)}));
    EXPECT_EQ(set_address(kFlashSize),
              (std::vector<Expected>{flash_ack(g, 0xA1, kFlashSize, false)}));
    EXPECT_EQ(unit.write_address(), kFlashSize - 1);
    EXPECT_EQ(frames_of(unit.handle(frame(g.set_addr, 3, {0, 0, 0}))),
              (std::vector<Expected>{flash_ack(g, 0xA1, 0, false)}));
}

TEST_P(UnitFlash, WritesLandAtTheWriteAddressWhichAdvances) {
    const GenCase& g = GetParam();
    set_address(0x03400000);
    const auto a = bytes(64, 0x10);
    const auto b = bytes(64, 0x80);
    EXPECT_EQ(write(a), (std::vector<Expected>{flash_ack(g, 0xAA, 0x03400000, true)}));
    EXPECT_EQ(write(b), (std::vector<Expected>{flash_ack(g, 0xAA, 0x03400040, true)}));
    EXPECT_EQ(unit.write_address(), 0x03400080u);
    EXPECT_EQ(unit.flash_read(0x03400000, 64), a);
    EXPECT_EQ(unit.flash_read(0x03400040, 64), b);
    EXPECT_EQ(unit.flash_read(0x03400080, 1), std::vector<uint8_t>{0xFF});
}

TEST_P(UnitFlash, ShortWriteProgramsEveryByteItsLengthCodeStandsFor) {
    const GenCase& g = GetParam();
    set_address(0x100);
    EXPECT_EQ(write(bytes(10, 1)), (std::vector<Expected>{flash_ack(g, 0xAA, 0x100, true)}));
    EXPECT_EQ(unit.write_address(), 0x10Cu);
    EXPECT_EQ(unit.flash_read(0x100, 13),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0xFF}));
    EXPECT_EQ(write({0x42}), (std::vector<Expected>{flash_ack(g, 0xAA, 0x10C, true)}));
    EXPECT_EQ(unit.write_address(), 0x10Du);
}

TEST_P(UnitFlash, WriteIntoUnerasedBytesIsRefusedAndChangesNothing) {
    const GenCase& g = GetParam();
    unit.flash_fill(0x13F, {0xFE});
    set_address(0x100);
    EXPECT_EQ(write(bytes(64, 0)), (std::vector<Expected>{flash_ack(g, 0xAA, 0x100, false)}));
    EXPECT_EQ(unit.write_address(), 0x100u);
    EXPECT_EQ(unit.flash_read(0x100, 63), std::vector<uint8_t>(63, 0xFF));
    EXPECT_EQ(unit.flash_read(0x13F, 1), std::vector<uint8_t>{0xFE});
}

TEST_P(UnitFlash, CheckingFlashKeepsTheCrcAndStillRefusesUnerasedBytes) {
    const GenCase& g = GetParam();
    unit.set_flash_checking(true);
    set_address(0x100);
    const auto a = bytes(64, 0x10);
    const auto b = bytes(10, 0x80);
    EXPECT_EQ(write(a), (std::vector<Expected>{flash_ack(g, 0xAA, 0x100, true)}));
    EXPECT_EQ(write(b), (std::vector<Expected>{flash_ack(g, 0xAA, 0x140, true)}));
    // The 10-byte write programs the 12 bytes its length code stands for.
    auto programmed = cat(a, b);
    programmed.resize(76, 0);
    const auto runs = unit.flash_runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].address, 0x100u);
    EXPECT_EQ(runs[0].length, 76u);
    EXPECT_TRUE(runs[0].crc_known);
    EXPECT_EQ(runs[0].crc32, emu::crc32_update(0, programmed.data(), programmed.size()));

    set_address(0x14B);
    EXPECT_EQ(write({0x00}), (std::vector<Expected>{flash_ack(g, 0xAA, 0x14B, false)}));
    EXPECT_EQ(unit.write_address(), 0x14Bu);
    EXPECT_EQ(unit.flash_runs().size(), 1u);
    EXPECT_EQ(unit.flash_runs()[0].crc32, runs[0].crc32);

    erase(0xAE, 0);
    EXPECT_TRUE(unit.flash_runs().empty());
    EXPECT_EQ(write({0x00}), (std::vector<Expected>{flash_ack(g, 0xAA, 0x14B, true)}));
    unit.reset();
    EXPECT_EQ(unit.flash_read(0x200, 1), std::vector<uint8_t>{0xFF});
    unit.flash_fill(0x200, {0x12});
    EXPECT_EQ(unit.flash_read(0x200, 1), std::vector<uint8_t>{0x12}) << "reset stores again";
}

TEST_P(UnitFlash, WithoutRefusalAWriteOnlyClearsBits) {
    const GenCase& g = GetParam();
    unit.set_refuse_unerased_writes(false);
    unit.flash_fill(0x200, {0xF0, 0x0F, 0x00});
    set_address(0x200);
    EXPECT_EQ(write({0x3C, 0xFF, 0xFF}), (std::vector<Expected>{flash_ack(g, 0xAA, 0x200, true)}));
    EXPECT_EQ(unit.flash_read(0x200, 4), (std::vector<uint8_t>{0x30, 0x0F, 0x00, 0xFF}));
}

TEST_P(UnitFlash, WriteMustFitInsideTheFlashAndCarryData) {
    const GenCase& g = GetParam();
    set_address(kFlashSize - 32);
    EXPECT_EQ(write(bytes(64, 0)),
              (std::vector<Expected>{flash_ack(g, 0xAA, kFlashSize - 32, false)}));
    EXPECT_EQ(write(bytes(32, 0)),
              (std::vector<Expected>{flash_ack(g, 0xAA, kFlashSize - 32, true)}));
    EXPECT_EQ(unit.write_address(), kFlashSize);
    EXPECT_EQ(write({1}), (std::vector<Expected>{flash_ack(g, 0xAA, kFlashSize, false)}));
    set_address(0);
    EXPECT_EQ(frames_of(unit.handle(frame(g.write, 0, {}))),
              (std::vector<Expected>{flash_ack(g, 0xAA, 0, false)}));
    EXPECT_EQ(frames_of(unit.handle(frame(g.write, 16, {1}))),
              (std::vector<Expected>{flash_ack(g, 0xAA, 0, false)}));
    EXPECT_EQ(unit.write_address(), 0u);
}

TEST_P(UnitFlash, PartitionQueryAnswersAckThenTheConfiguredValue) {
    const GenCase& g = GetParam();
    for (uint32_t value : {0xB1B1B1B1u, 0xB2B2B2B2u, 0x00000000u, 0xB3B3B3B3u, 0x12345678u}) {
        unit.set_partition_answer(value);
        EXPECT_EQ(frames_of(unit.handle(frame(g.get_partition, 0))),
                  (std::vector<Expected>{command_ack(g, g.get_partition, true),
                                         flash_ack(g, 0xAC, value, true)}))
            << std::hex << value;
    }
    EXPECT_EQ(frames_of(unit.handle(frame(g.get_partition, 1, {0}))),
              (std::vector<Expected>{command_ack(g, g.get_partition, false)}));
}

TEST_P(UnitFlash, DefaultPartitionIsBankOne) {
    const auto answers = frames_of(unit.handle(frame(GetParam().get_partition, 0)));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], flash_ack(GetParam(), 0xAC, 0xB1B1B1B1, true));
}

TEST_P(UnitFlash, AirportDatabaseCloseIsAcknowledgedOpenIsNot) {
    const GenCase& g = GetParam();
    EXPECT_TRUE(unit.airport_db_open());
    EXPECT_EQ(frames_of(unit.handle(frame(g.airport, 1, {0xDC}))),
              (std::vector<Expected>{command_ack(g, g.airport, true)}));
    EXPECT_FALSE(unit.airport_db_open());
    EXPECT_EQ(frames_of(unit.handle(frame(g.airport, 1, {0x00}))),
              (std::vector<Expected>{command_ack(g, g.airport, false)}));
    EXPECT_EQ(frames_of(unit.handle(frame(g.airport, 2, {0xDA, 0}))),
              (std::vector<Expected>{command_ack(g, g.airport, false)}));
    EXPECT_FALSE(unit.airport_db_open());
    EXPECT_TRUE(unit.handle(frame(g.airport, 1, {0xDA})).empty());
    EXPECT_TRUE(unit.airport_db_open());
}

TEST_P(UnitFlash, IdentifiersOfTheOtherGenerationAreIgnored) {
    const GenCase& g = GetParam();
    const GenCase& other = g.gen == emu::Generation::Current ? kLegacy : kCurrent;
    const Settings_t before = unit.settings();
    const std::vector<COMMS_MSG_t> requests = {
        frame(other.whoami, 2, {0xEF, 0x15}),
        frame(other.req_setting, 1, {6}),
        frame(other.set_setting, 5, cat({6}, le32(99))),
        frame(other.save_settings, 4, le32(before.crc32)),
        frame(other.req_calib, 1, {0}),
        frame(other.set_calib, 5, cat({1}, le32(1))),
        frame(other.save_calib, 4, le32(0)),
        frame(other.enter_bl, 1, {0x48}),
        frame(other.erase, 3, {0xBE, 0, 0}),
        frame(other.set_addr, 4, le32(0x100)),
        frame(other.write, 1, {0}),
        frame(other.get_partition, 0),
        frame(other.airport, 1, {0xDC}),
    };
    unit.flash_fill(0, {0});
    for (const COMMS_MSG_t& r : requests) {
        const uint32_t id = r.can_ID;
        EXPECT_TRUE(unit.handle(r).empty()) << std::hex << id;
    }
    const Settings_t after = unit.settings();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
    EXPECT_EQ(unit.store_count(), 0u);
    EXPECT_EQ(unit.reboot_count(), 0u);
    EXPECT_TRUE(unit.airport_db_open());
    EXPECT_EQ(unit.write_address(), 0u);
    EXPECT_EQ(unit.flash_read(0, 1), std::vector<uint8_t>{0});
    EXPECT_EQ(unit.received().size(), requests.size());
}

INSTANTIATE_TEST_SUITE_P(Generations, UnitFlash, testing::Values(kCurrent, kLegacy), gen_name);

}  // namespace
