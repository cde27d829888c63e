// Identification, generation choice and the record of received frames.
#include <gtest/gtest.h>

#include "emulator/efis_unit.h"
#include "unit_test_support.h"

using namespace emu_test;

namespace {

const std::vector<uint8_t> kWhoami{0xEF, 0x15};

TEST(UnitIdentity, CurrentUnitAnswersWithSerialBigEndianAndVersion) {
    emu::EfisUnit unit;
    unit.set_serial(0x12345678);
    unit.set_version(0, 2, 12, 5);
    EXPECT_EQ(
        frames_of(unit.handle(frame(0x010, 2, kWhoami))),
        (std::vector<Expected>{{0x010, 8, {0x12, 0x34, 0x56, 0x78, 0x05, 0x0C, 0x02, 0x00}}}));
}

TEST(UnitIdentity, LegacyUnitAnswersWithMarkerAndSerialLittleEndian) {
    emu::EfisUnit unit;
    unit.set_generation(emu::Generation::Legacy);
    unit.set_serial(0x12345678);
    EXPECT_EQ(
        frames_of(unit.handle(frame(0x123, 2, kWhoami))),
        (std::vector<Expected>{{0x123, 8, {0xEF, 0x15, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12}}}));
}

TEST(UnitIdentity, DefaultUnitIsCurrentWithItsSerial) {
    emu::EfisUnit unit;
    EXPECT_EQ(unit.generation(), emu::Generation::Current);
    EXPECT_EQ(
        frames_of(unit.handle(frame(0x010, 2, kWhoami))),
        (std::vector<Expected>{{0x010, 8, {0x00, 0xC0, 0xFF, 0xEE, 0x00, 0x0C, 0x02, 0x00}}}));
}

struct SilentCase {
    const char* name;
    emu::Generation gen;
    uint32_t id;
    uint8_t len;
    std::vector<uint8_t> payload;
};

class UnitIdentitySilent : public testing::TestWithParam<SilentCase> {};

TEST_P(UnitIdentitySilent, IgnoresTheRequest) {
    const SilentCase& c = GetParam();
    emu::EfisUnit unit;
    unit.set_generation(c.gen);
    EXPECT_TRUE(unit.handle(frame(c.id, c.len, c.payload)).empty());
    ASSERT_EQ(unit.received().size(), 1u);  // recorded all the same
}

INSTANTIATE_TEST_SUITE_P(
    Requests, UnitIdentitySilent,
    testing::Values(
        SilentCase{"LegacyOnCurrentId", emu::Generation::Legacy, 0x010, 2, kWhoami},
        SilentCase{"CurrentOnLegacyId", emu::Generation::Current, 0x123, 2, kWhoami},
        SilentCase{"CurrentWrongMarker", emu::Generation::Current, 0x010, 2, {0xEF, 0x16}},
        SilentCase{"CurrentSwappedMarker", emu::Generation::Current, 0x010, 2, {0x15, 0xEF}},
        SilentCase{"CurrentThreeBytes", emu::Generation::Current, 0x010, 3, {0xEF, 0x15, 0x00}},
        SilentCase{"CurrentNoPayload", emu::Generation::Current, 0x010, 0, {}},
        SilentCase{"LegacyWrongMarker", emu::Generation::Legacy, 0x123, 2, {0xEE, 0x15}},
        SilentCase{"LegacyOneByte", emu::Generation::Legacy, 0x123, 1, {0xEF}}),
    [](const testing::TestParamInfo<SilentCase>& i) { return i.param.name; });

TEST(UnitIdentity, OldUnitAnsweringCurrentRequestKeepsLegacyNumbering) {
    emu::EfisUnit unit;
    unit.set_version(0, 2, 11, 3);
    unit.set_answers_current_whoami(true);
    unit.set_serial(0x01020304);
    EXPECT_EQ(unit.generation(), emu::Generation::Legacy);
    EXPECT_EQ(
        frames_of(unit.handle(frame(0x010, 2, kWhoami))),
        (std::vector<Expected>{{0x010, 8, {0x01, 0x02, 0x03, 0x04, 0x03, 0x0B, 0x02, 0x00}}}));
    EXPECT_EQ(
        frames_of(unit.handle(frame(0x123, 2, kWhoami))),
        (std::vector<Expected>{{0x123, 8, {0xEF, 0x15, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01}}}));
    // Everything else follows the legacy map and formats.
    EXPECT_TRUE(unit.handle(frame(0x390, 5, {6, 99, 0, 0, 0})).empty());
    EXPECT_EQ(frames_of(unit.handle(frame(0x378, 5, {6, 99, 0, 0, 0}))),
              (std::vector<Expected>{command_ack(kLegacy, 0x378, true)}));
}

struct VersionCase {
    uint8_t major, minor, patch, rc;
    emu::Generation expected;
    uint32_t ack, mx25_ack;
};

class UnitGeneration : public testing::TestWithParam<VersionCase> {};

TEST_P(UnitGeneration, FollowsTheVersion) {
    const VersionCase& c = GetParam();
    emu::EfisUnit unit;
    unit.set_version(c.major, c.minor, c.patch, c.rc);
    EXPECT_EQ(unit.generation(), c.expected);
    EXPECT_EQ(unit.id_ack(), c.ack);
    EXPECT_EQ(unit.id_mx25_ack(), c.mx25_ack);
    // Only a current unit answers the current request when not told otherwise.
    EXPECT_EQ(unit.handle(frame(0x010, 2, kWhoami)).size(),
              c.expected == emu::Generation::Current ? 1u : 0u);
    EXPECT_EQ(unit.handle(frame(0x123, 2, kWhoami)).size(),
              c.expected == emu::Generation::Legacy ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UnitGeneration,
    testing::Values(VersionCase{0, 2, 12, 0, emu::Generation::Current, 0x0E0, 0x0F0},
                    VersionCase{0, 2, 12, 255, emu::Generation::Current, 0x0E0, 0x0F0},
                    VersionCase{0, 2, 11, 255, emu::Generation::Legacy, 0x255, 0x256},
                    VersionCase{0, 1, 99, 0, emu::Generation::Legacy, 0x255, 0x256},
                    VersionCase{0, 0, 0, 0, emu::Generation::Legacy, 0x255, 0x256},
                    VersionCase{0, 3, 0, 0, emu::Generation::Current, 0x0E0, 0x0F0},
                    VersionCase{1, 0, 0, 0, emu::Generation::Current, 0x0E0, 0x0F0}));

TEST(UnitIdentity, SetGenerationChoosesVersions) {
    emu::EfisUnit unit;
    unit.set_generation(emu::Generation::Legacy);
    EXPECT_EQ(unit.generation(), emu::Generation::Legacy);
    unit.set_generation(emu::Generation::Current);
    EXPECT_EQ(frames_of(unit.handle(frame(0x010, 2, kWhoami)))[0].payload,
              (std::vector<uint8_t>{0x00, 0xC0, 0xFF, 0xEE, 0x00, 0x0C, 0x02, 0x00}));
}

TEST(UnitIdentity, AnswersOnTheLinkTheRequestCameOn) {
    emu::EfisUnit unit;
    COMMS_MSG_t req = frame(0x010, 2, kWhoami);
    req.iface = CAN_FD;
    const auto answers = unit.handle(req);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].frame.iface, CAN_FD);
    EXPECT_EQ(answers[0].delay_ms, 0u);
}

TEST(UnitReceived, RecordsEveryFrameInOrderWithExactBytes) {
    emu::EfisUnit unit;
    const COMMS_MSG_t a = frame(0x010, 2, kWhoami);
    COMMS_MSG_t b = frame(0x7FF, 15, std::vector<uint8_t>(64, 0xA5));
    b.padding[1] = 0x11;
    const COMMS_MSG_t c = frame(0x370, 1, {24});
    unit.handle(a);
    unit.handle(b);
    unit.handle(c);
    const auto got = unit.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::memcmp(&got[0], &a, sizeof(a)), 0);
    EXPECT_EQ(std::memcmp(&got[1], &b, sizeof(b)), 0);
    EXPECT_EQ(std::memcmp(&got[2], &c, sizeof(c)), 0);
    unit.clear_received();
    EXPECT_TRUE(unit.received().empty());
}

TEST(UnitReset, RestoresTheStartState) {
    emu::EfisUnit unit;
    unit.set_generation(emu::Generation::Legacy);
    unit.set_serial(7);
    unit.set_partition_answer(partition_2);
    unit.handle(frame(0x42F, 1, {0xDC}));
    unit.flash_fill(0, {1, 2, 3});
    unit.reset();
    EXPECT_EQ(unit.generation(), emu::Generation::Current);
    EXPECT_TRUE(unit.received().empty());
    EXPECT_TRUE(unit.airport_db_open());
    EXPECT_EQ(unit.flash_read(0, 3), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(frames_of(unit.handle(frame(0x010, 2, kWhoami)))[0].payload[3], 0xEE);
}

}  // namespace
