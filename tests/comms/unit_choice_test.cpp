// Several units found: the one named, remembered or alone is used; between two, none.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "comms/comms.h"
#include "comms/unit_choice.h"
#include "emulator/hidapi/emulated_hidapi.h"

namespace {

constexpr uint32_t kA = 0x00C0FFEE;
constexpr uint32_t kB = 0x00BADA55;

FoundUnit usb(uint32_t serial, bool answered = true) {
    FoundUnit u;
    u.link = USB_HID;
    u.device = "emu-hid-0";
    u.answered = answered;
    u.serial = answered ? serial : 0xFFFFFFFF;
    return u;
}

FoundUnit can(uint32_t serial, bool shared = false) {
    FoundUnit u = usb(serial);
    u.link = CAN_FD;
    u.device = "can0";
    u.shared_bus = shared;
    return u;
}

TEST(ChooseUnit, NamedRememberedOrAloneNeverAGuess) {
    struct Case {
        const char* name;
        std::vector<FoundUnit> found;
        std::optional<uint32_t> wanted;
        std::optional<uint32_t> preferred;
        UnitPick pick;
        uint32_t serial;
    };
    const std::optional<uint32_t> none;
    const Case cases[] = {
        {"nothing", {}, none, none, UnitPick::NoneFound, 0xFFFFFFFF},
        {"unanswered only", {usb(0, false)}, none, none, UnitPick::NoneFound, 0xFFFFFFFF},
        {"one", {usb(kA), usb(0, false)}, none, none, UnitPick::InUse, kA},
        {"one on both links", {usb(kA), can(kA)}, none, none, UnitPick::InUse, kA},
        {"two on USB", {usb(kA), usb(kB)}, none, none, UnitPick::ChoiceNeeded, 0xFFFFFFFF},
        {"USB and another on CAN",
         {usb(kA), can(kB)},
         none,
         none,
         UnitPick::ChoiceNeeded,
         0xFFFFFFFF},
        {"named", {usb(kA), usb(kB)}, kB, none, UnitPick::InUse, kB},
        {"named absent", {usb(kA)}, kB, none, UnitPick::NotFound, 0xFFFFFFFF},
        {"named over remembered", {usb(kA), usb(kB)}, kA, kB, UnitPick::InUse, kA},
        {"remembered found", {usb(kA), usb(kB)}, none, kB, UnitPick::InUse, kB},
        {"remembered gone, one left", {usb(kA)}, none, kB, UnitPick::InUse, kA},
        {"remembered gone, two left",
         {usb(kA), can(kB)},
         none,
         0x1234u,
         UnitPick::ChoiceNeeded,
         0xFFFFFFFF},
        {"shared bus unusable",
         {can(kA, true), can(kB, true)},
         none,
         none,
         UnitPick::NoneFound,
         0xFFFFFFFF},
        {"shared bus, named",
         {can(kA, true), can(kB, true)},
         kA,
         none,
         UnitPick::NotFound,
         0xFFFFFFFF},
        {"shared bus, same unit on USB",
         {usb(kA), can(kA, true), can(kB, true)},
         none,
         none,
         UnitPick::InUse,
         kA},
    };
    for (const Case& c : cases) {
        const UnitChoice choice = choose_unit(c.found, c.wanted, c.preferred);
        EXPECT_EQ(choice.pick, c.pick) << c.name;
        EXPECT_EQ(choice.serial, c.serial) << c.name;
    }
    EXPECT_EQ(units_connected_text({kA, kB}), "2 units are connected (0x00C0FFEE, 0x00BADA55)");
    EXPECT_EQ(shared_bus_text("can0", {kA, kB}),
              "2 units answer on can0 (serials 0x00C0FFEE, 0x00BADA55); this bus can hold one "
              "unit: connect one at a time or use USB");
}

class TwoUsbUnits : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::set_unit_count(2);
        emu_hid::unit(0).set_serial(kA);
        emu_hid::unit(1).set_serial(kB);
        emu_hid::unit(1).set_generation(emu::Generation::Legacy);
    }
    void TearDown() override { emu_hid::reset(); }

    bool connect(CommsManager& comms, std::optional<uint32_t> serial) {
        LinkChoice links;
        links.can = false;
        links.serial = serial;
        testing::internal::CaptureStdout();
        const bool ok = comms.establish_connection(links);
        out = testing::internal::GetCapturedStdout();
        return ok;
    }

    // Requests other than the identification, per unit.
    static size_t commands(size_t unit) {
        size_t n = 0;
        for (const COMMS_MSG_t& f : emu_hid::unit(unit).received()) {
            n += f.can_ID != 0x010 && f.can_ID != 0x123 ? 1 : 0;
        }
        return n;
    }

    std::string out;
};

TEST_F(TwoUsbUnits, NoneUsedUntilOneIsNamed) {
    CommsManager comms;
    EXPECT_FALSE(connect(comms, std::nullopt));
    EXPECT_FALSE(comms.isConnected());
    EXPECT_EQ(comms.unitChoice().pick, UnitPick::ChoiceNeeded);
    EXPECT_EQ(comms.serialNumber(), 0xFFFFFFFFu);
    EXPECT_NE(out.find("2 units are connected (0x00C0FFEE, 0x00BADA55); none chosen\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(comms.unitsFound().size(), 2u);
    EXPECT_EQ(comms.unitsFound()[1].device, "emu-hid-1");
    EXPECT_EQ(comms.unitsFound()[1].firmware.version, 0u);
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(commands(0) + commands(1), 0u);
}

TEST_F(TwoUsbUnits, TheNamedUnitAloneIsUsedWithItsOwnGeneration) {
    for (const uint32_t serial : {kA, kB}) {
        emu_hid::unit(0).clear_received();
        emu_hid::unit(1).clear_received();
        CommsManager comms;
        ASSERT_TRUE(connect(comms, serial)) << out;
        EXPECT_EQ(comms.serialNumber(), serial);
        // The legacy unit was identified last or first: the firmware cache is the one in use's.
        EXPECT_EQ(device_firmware_at_least_0_2_12(), serial == kA);
        EXPECT_NE(out.find("Successfully connected to USB HID device! Serial number: " +
                           std::string(serial == kA ? "0x00C0FFEE" : "0x00BADA55")),
                  std::string::npos)
            << out;
        uint32_t value = 0;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, 6, &value));
        testing::internal::GetCapturedStdout();
        const size_t used = serial == kA ? 0 : 1;
        EXPECT_EQ(commands(used), 1u);
        EXPECT_EQ(commands(1 - used), 0u);
    }
}

}  // namespace
