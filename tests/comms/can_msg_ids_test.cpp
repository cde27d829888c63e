// The firmware version cache and the identifier each accessor yields for every cache state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::version;

struct Accessor {
    const char* name;
    uint32_t (*get)();
    uint32_t current;
    uint32_t legacy;
};

const std::vector<Accessor> kAccessors = {
    {"ack", canmsg_ack, 0x0E0, 0x255},
    {"whoami", canmsg_whoami, 0x010, 0x123},
    {"mx25_ack", canmsg_mx25_ack, 0x0F0, 0x256},
    {"mx25_nack_wire_id", canmsg_mx25_nack_wire_id, 0x257, 0x257},
    {"request_user_setting", canmsg_request_user_setting, 0x370, 0x376},
    {"send_user_setting", canmsg_send_user_setting, 0x380, 0x377},
    {"request_sensor_calib", canmsg_request_sensor_calib, 0x330, 0x354},
    {"send_sensor_calib", canmsg_send_sensor_calib, 0x340, 0x355},
    {"set_user_setting", canmsg_set_user_setting, 0x390, 0x378},
    {"set_sensor_calib", canmsg_set_sensor_calib, 0x350, 0x356},
    {"save_user_settings", canmsg_save_user_settings, 0x3A0, 0x379},
    {"save_sensor_calib", canmsg_save_sensor_calib, 0x360, 0x357},
    {"enter_bl", canmsg_enter_bl, 0x3B0, 0x399},
    {"get_partition", canmsg_get_partition, 0x730, 0x287},
    {"airport_db_op", canmsg_airport_db_op, 0x450, 0x42F},
    {"erase_mx25", canmsg_erase_mx25, 0x430, 0x416},
    {"set_addr_mx25", canmsg_set_addr_mx25, 0x440, 0x417},
    {"write_mx25", canmsg_write_mx25, 0x420, 0x415},
};

struct CacheCase {
    const char* name;
    bool known;
    fwversion_t cached;
    bool legacy;
};

class IdentifierMap : public ::testing::TestWithParam<CacheCase> {
protected:
    void TearDown() override { reset_whoami_fwversion_cache(); }
};

TEST_P(IdentifierMap, EveryAccessorFollowsTheCache) {
    const CacheCase& c = GetParam();
    reset_whoami_fwversion_cache();
    if (c.known) {
        cache_whoami_fwversion(c.cached);
    }
    EXPECT_EQ(device_whoami_fwversion_known(), c.known);
    EXPECT_EQ(device_firmware_at_least_0_2_12(), c.known && !c.legacy);
    for (const Accessor& a : kAccessors) {
        EXPECT_EQ(a.get(), c.legacy ? a.legacy : a.current) << a.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, IdentifierMap,
    ::testing::Values(CacheCase{"Empty", false, version(0, 0, 0), false},
                      CacheCase{"Exactly_0_2_12", true, version(0, 2, 12), false},
                      CacheCase{"Rc_0_2_12_rc255", true, version(0, 2, 12, 255), false},
                      CacheCase{"Later_0_2_13", true, version(0, 2, 13), false},
                      CacheCase{"Later_0_3_0", true, version(0, 3, 0), false},
                      CacheCase{"Later_1_0_0", true, version(1, 0, 0), false},
                      CacheCase{"Earlier_0_2_11", true, version(0, 2, 11), true},
                      CacheCase{"Earlier_0_2_11_rc255", true, version(0, 2, 11, 255), true},
                      CacheCase{"Earlier_0_1_99", true, version(0, 1, 99), true},
                      CacheCase{"LegacyReply_0_0_0", true, version(0, 0, 0), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionCache, ResetEmptiesTheCacheWhateverItHeld) {
    cache_whoami_fwversion(version(0, 1, 0));
    ASSERT_EQ(canmsg_ack(), 0x255u);
    reset_whoami_fwversion_cache();
    EXPECT_FALSE(device_whoami_fwversion_known());
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
    EXPECT_EQ(canmsg_ack(), 0x0E0u);
    EXPECT_EQ(canmsg_save_user_settings(), 0x3A0u);

    // A stored current version without the known flag still counts as no handshake.
    cache_whoami_fwversion(version(0, 2, 12));
    reset_whoami_fwversion_cache();
    EXPECT_FALSE(g_whoami_fwversion_known);
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
    EXPECT_EQ(g_whoami_fwversion.version, version(0, 2, 12).version);
}

TEST(VersionCache, CacheStoresTheWholeVersionWord) {
    cache_whoami_fwversion(version(1, 2, 3, 4));
    EXPECT_TRUE(g_whoami_fwversion_known);
    EXPECT_EQ(g_whoami_fwversion.version, 0x01020304u);
    reset_whoami_fwversion_cache();
}

struct GeCase {
    fwversion_t v;
    uint8_t major, minor, patch;
    bool ge;
};

TEST(VersionCache, FwversionGeComparesMajorMinorPatchOnly) {
    const GeCase cases[] = {
        {version(0, 2, 11), 0, 2, 12, false},    {version(0, 2, 12), 0, 2, 12, true},
        {version(0, 2, 12, 0), 0, 2, 13, false}, {version(0, 3, 0), 0, 2, 12, true},
        {version(1, 0, 0), 0, 2, 12, true},      {version(0, 3, 0), 1, 0, 0, false},
        {version(1, 0, 0), 1, 0, 0, true},       {version(0, 1, 255, 255), 0, 2, 0, false},
        {version(2, 0, 0), 1, 255, 255, true},   {version(0, 2, 11, 255), 0, 2, 12, false},
    };
    for (const GeCase& c : cases) {
        EXPECT_EQ(fwversion_ge(c.v, c.major, c.minor, c.patch), c.ge)
            << std::hex << c.v.version << " >= " << int{c.major} << "." << int{c.minor} << "."
            << int{c.patch};
    }
}

}  // namespace
