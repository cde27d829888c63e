// The unit's restart on the enter-boot-loader frame: what it runs afterwards.
#include <gtest/gtest.h>

#include <cstring>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/get_set.h"
#include "emulator/efis_unit.h"
#include "unit_test_support.h"

using namespace emu_test;

namespace {

constexpr uint32_t kBank1 = 0xB1B1B1B1;
constexpr uint32_t kBank2 = 0xB2B2B2B2;
constexpr uint32_t kBank1Block = 832;
constexpr uint32_t kBank2Block = 896;

uint32_t version_word(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc = 0) {
    return uint32_t{major} << 24 | uint32_t{minor} << 16 | uint32_t{patch} << 8 | rc;
}

uint32_t version_of(const emu::EfisUnit& unit) {
    const fwversion_t v = unit.version();
    return version_word(v.fields.major, v.fields.minor, v.fields.patch, v.fields.rc);
}

// What the tool sends for one image: erase, address, header, then the data in 64-byte
// writes, of which only the first `data_sent` bytes go out.
struct Upload {
    uint32_t block;
    uint32_t header_version;
    uint32_t encrypted_size;
    uint32_t data_sent;
    uint8_t fill;  // value of every data byte
};

void upload(emu::EfisUnit& unit, const GenCase& g, const Upload& u) {
    const uint32_t blocks = (64 + u.encrypted_size + 65535) / 65536;
    for (uint32_t b = u.block; b < u.block + blocks; ++b) {
        unit.handle(
            frame(g.erase, 3, {0xBE, static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8)}));
    }
    unit.handle(frame(g.set_addr, 4, le32(u.block * 65536)));
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = 0x46495745;
    h.version = u.header_version;
    h.total_size = 64 + u.encrypted_size;
    h.encrypted_size = u.encrypted_size;
    std::vector<uint8_t> header(64);
    std::memcpy(header.data(), &h, 64);
    ASSERT_EQ(frames_of(unit.handle(frame(g.write, 15, header))),
              (std::vector<Expected>{flash_ack(g, 0xAA, u.block * 65536, true)}));
    for (uint32_t sent = 0; sent < u.data_sent;) {
        const uint32_t n = u.data_sent - sent < 64 ? u.data_sent - sent : 64;
        const std::vector<uint8_t> chunk(n, u.fill);
        const auto acks = frames_of(
            unit.handle(frame(g.write, can_msg_len_from_payload(static_cast<uint8_t>(n)), chunk)));
        ASSERT_EQ(acks.size(), 1u);
        ASSERT_EQ(acks[0].payload[0], 0xAA);
        sent += n;
    }
}

void reboot(emu::EfisUnit& unit, const GenCase& g) {
    EXPECT_TRUE(unit.handle(frame(g.enter_bl, 1, {0x48})).empty());
}

class UnitReboot : public testing::TestWithParam<GenCase> {
protected:
    void SetUp() override { unit.set_generation(GetParam().gen); }
    bool legacy() const { return GetParam().gen == emu::Generation::Legacy; }
    emu::EfisUnit unit;
};

struct VersionCase {
    const char* name;
    uint32_t partition;  // the bank the unit names
    Upload upload;
    bool installs;
    bool header_wins;  // else the patch goes one up
};

TEST_P(UnitReboot, VersionAfterAnUploadFollowsTheImageInTheNamedBank) {
    const GenCase& g = GetParam();
    const uint32_t newer = version_word(0, 3, 1, 2);
    const VersionCase cases[] = {
        {"header version newer", kBank1, {kBank1Block, newer, 1000, 1000, 0x5A}, true, true},
        {"bank 2 named and written", kBank2, {kBank2Block, newer, 640, 640, 0x5A}, true, true},
        {"erased version word", kBank1, {kBank1Block, 0xFFFFFFFF, 128, 128, 0x5A}, true, false},
        {"random version word", kBank1, {kBank1Block, 0xDEADBEEF, 128, 128, 0x5A}, true, false},
        {"older header version",
         kBank1,
         {kBank1Block, version_word(0, 1, 0), 128, 128, 1},
         true,
         false},
        {"no data at all", kBank1, {kBank1Block, 0, 0, 0, 0}, true, false},
        {"short last packet", kBank1, {kBank1Block, newer, 100, 100, 0x77}, true, true},
        {"data of erased-looking bytes", kBank1, {kBank1Block, newer, 256, 256, 0xFF}, true, true},
        {"one packet short", kBank1, {kBank1Block, newer, 1000, 960, 0x5A}, false, false},
        {"header only", kBank1, {kBank1Block, newer, 1000, 0, 0x5A}, false, false},
        {"data beyond the bank",
         kBank1,
         {kBank1Block, newer, 64 * 65536, 64 * 65536, 0x5A},
         false,
         false},
        {"written into the other bank", kBank1, {kBank2Block, newer, 128, 128, 0x5A}, false, false},
        {"no bank named", 0, {kBank1Block, newer, 128, 128, 0x5A}, false, false},
    };
    for (const bool checking : {false, true}) {
        for (const VersionCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (checking ? ", checking flash" : ", storing flash"));
            unit.reset();
            unit.set_generation(g.gen);
            unit.set_flash_checking(checking);
            unit.set_partition_answer(c.partition);
            const uint32_t before = version_of(unit);
            upload(unit, g, c.upload);
            EXPECT_EQ(version_of(unit), before) << "the version changed before the restart";
            reboot(unit, g);
            uint32_t expected = before;
            if (c.installs && !legacy()) {
                expected = c.header_wins ? c.upload.header_version : before + 0x100;
            }
            EXPECT_EQ(version_of(unit), expected) << std::hex << version_of(unit);
            EXPECT_EQ(unit.generation(), g.gen);
            reboot(unit, g);
            EXPECT_EQ(version_of(unit), expected) << "a second restart installed it again";
        }
    }
}

TEST_P(UnitReboot, RestartWithoutUploadKeepsVersionSettingsAndFlash) {
    const GenCase& g = GetParam();
    unit.set_version(legacy() ? 0 : 1, legacy() ? 1 : 4, 0xFF, 3);
    const uint32_t before = version_of(unit);
    unit.handle(frame(g.set_setting, 5, cat({6}, le32(201))));
    unit.flash_fill(0x1000, {1, 2, 3});
    unit.handle(frame(g.set_addr, 4, le32(0x2000)));
    unit.handle(frame(g.airport, 1, {0xDC}));
    reboot(unit, g);
    EXPECT_EQ(version_of(unit), before);
    Settings_t s = unit.settings();
    EXPECT_EQ(settings_get_value(&s, static_cast<settings_struct_index>(6)), 201u);
    EXPECT_EQ(unit.flash_read(0x1000, 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(unit.write_address(), 0u) << "the write address survived the restart";
    EXPECT_TRUE(unit.airport_db_open());
}

TEST_P(UnitReboot, EachEnterBootLoaderFrameIsTakenOnce) {
    const GenCase& g = GetParam();
    EXPECT_FALSE(unit.take_reboot());
    unit.handle(frame(g.enter_bl, 1, {0x47}));
    unit.handle(frame(g.enter_bl, 2, {0x48, 0}));
    EXPECT_FALSE(unit.take_reboot()) << "a malformed request restarted the unit";
    reboot(unit, g);
    reboot(unit, g);
    EXPECT_TRUE(unit.take_reboot());
    EXPECT_TRUE(unit.take_reboot());
    EXPECT_FALSE(unit.take_reboot());
    const GenCase& other = legacy() ? kCurrent : kLegacy;
    unit.handle(frame(other.enter_bl, 1, {0x48}));
    EXPECT_FALSE(unit.take_reboot());
}

TEST_P(UnitReboot, RebootTimeDefaultsAndResets) {
    const GenCase& g = GetParam();
    EXPECT_EQ(unit.reboot_ms(), 2000u);
    unit.set_reboot_ms(150);
    EXPECT_EQ(unit.reboot_ms(), 150u);
    reboot(unit, g);
    unit.reset();
    EXPECT_EQ(unit.reboot_ms(), 2000u);
    EXPECT_FALSE(unit.take_reboot());
}

INSTANTIATE_TEST_SUITE_P(Generations, UnitReboot, testing::Values(kCurrent, kLegacy), gen_name);

TEST(UnitRebootVersion, PatchCarriesIntoMinorAtItsTop) {
    emu::EfisUnit unit;
    unit.set_version(0, 4, 0xFF, 0);
    upload(unit, kCurrent, {kBank1Block, 0, 64, 64, 0});
    reboot(unit, kCurrent);
    EXPECT_EQ(version_of(unit), version_word(0, 5, 0, 0));
}

// A unit below 0.2.12 that reports its version moves to the current identifiers when it
// restarts into a current image.
TEST(UnitRebootGeneration, ReportingLegacyUnitBecomesCurrent) {
    emu::EfisUnit unit;
    unit.set_version(0, 2, 11, 0);
    unit.set_answers_current_whoami(true);
    ASSERT_EQ(unit.generation(), emu::Generation::Legacy);
    upload(unit, kLegacy, {kBank1Block, version_word(0, 2, 12), 64, 64, 9});
    reboot(unit, kLegacy);
    EXPECT_EQ(unit.generation(), emu::Generation::Current);
    EXPECT_EQ(frames_of(unit.handle(frame(kCurrent.get_partition, 0))).size(), 2u);
}

}  // namespace
