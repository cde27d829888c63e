// efis-cli with two units connected: nothing is sent to either until one is named, and the
// one named alone receives the verb's frames.
#include <gtest/gtest.h>

#include "EFIS_shared/can_export.h"
#include "cli_test_support.h"
#include "tests/transfer/upload_file_support.h"

namespace {

using cli_test::CliResult;
using cli_test::FakeClock;
using cli_test::run_cli;

constexpr uint32_t kSerials[] = {0x00C0FFEE, 0x00BADA55};

// Frames other than the identification each unit received.
size_t commands(size_t unit) {
    size_t n = 0;
    for (const COMMS_MSG_t& f : emu_hid::unit(unit).received()) {
        n += f.can_ID != CANMSG_WHOAMI && f.can_ID != 0x123 ? 1 : 0;
    }
    return n;
}

class CliUnits : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::set_unit_count(2);
        for (size_t i = 0; i < 2; ++i) {
            emu_hid::unit(i).set_serial(kSerials[i]);
            emu_hid::unit(i).set_reboot_ms(300);
        }
    }
    void TearDown() override { emu_hid::reset(); }

    std::atomic<bool> cancel{false};
};

TEST_F(CliUnits, OnlyTheUnitNamedIsReached) {
    const std::string image = cli_test::temp_path("units.bin");
    ASSERT_TRUE(transfer_test::write_file(image, transfer_test::firmware_image(3000, 7)));
    const QString image_arg = QString::fromStdString(image);
    struct Case {
        QStringList args;
        int status;
        const char* first_line;  // of standard error, or of standard output when it begins "out:"
        int reached;             // the unit that received commands, -1 for neither
    };
    const Case cases[] = {
        {{"--link", "usb", "settings", "set", "vne=150"},
         2,
         "efis-cli: 2 units are connected (0x00C0FFEE, 0x00BADA55); name one with --serial",
         -1},
        {{"--link", "usb", "--serial", "0x12345678", "info"},
         3,
         "efis-cli: no unit with serial number 0x12345678 answered on USB HID (found: "
         "0x00C0FFEE, 0x00BADA55)",
         -1},
        {{"--link", "usb", "list"},
         0,
         "out:USB HID  emu-hid-0  serial 0x00C0FFEE  firmware 0.2.12  current",
         -1},
        {{"--link", "usb", "--serial", "0x00BADA55", "settings", "set", "vne=150"},
         0,
         "Unit 0x00BADA55, firmware 0.2.12 (current), on usbhid",
         1},
        {{"--link", "usb", "--serial", "12245589", "settings", "show"},  // 0x00BADA55 in decimal
         0,
         "Unit 0x00BADA55, firmware 0.2.12 (current), on usbhid",
         1},
        {{"--link", "usb", "--serial", "0x00BADA55", "firmware", image_arg, "--no-backup"},
         0,
         "Unit 0x00BADA55, firmware 0.2.12 (current), on usbhid",
         1},
        {{"--link", "usb", "--serial", "0x00C0FFEE", "reboot"},
         0,
         "Unit 0x00C0FFEE, firmware 0.2.12 (current), on usbhid",
         0},
    };
    for (const Case& c : cases) {
        SetUp();
        FakeClock clock;
        clock.step = 1.0;  // the reboot's wait: past its 2 s grace at the second look
        const CliResult r = run_cli(c.args, &cancel, &clock);
        const std::string label = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << label << "\n" << r.err;
        const std::string expected = c.first_line;
        const bool on_out = expected.rfind("out:", 0) == 0;
        const std::string& text = on_out ? r.out : r.err;
        EXPECT_EQ(text.substr(0, text.find('\n')), on_out ? expected.substr(4) : expected) << label;
        for (int unit = 0; unit < 2; ++unit) {
            EXPECT_EQ(commands(static_cast<size_t>(unit)) > 0, unit == c.reached)
                << label << ": unit " << unit;
        }
    }
    // The last row's unit came back, and said which firmware it runs.
    EXPECT_EQ(emu_hid::unit(0).reboot_count(), 1u);
    EXPECT_EQ(emu_hid::unit(1).reboot_count(), 0u);
}

TEST_F(CliUnits, RebootReportsAUnitThatDoesNotComeBack) {
    emu_hid::unit(0).set_reboot_ms(60000);
    FakeClock clock;
    clock.step = 4.0;
    const CliResult r =
        run_cli({"--link", "usb", "--serial", "0x00C0FFEE", "--json", "reboot"}, &cancel, &clock);
    EXPECT_EQ(r.status, 3);
    ASSERT_FALSE(r.events().empty());
    EXPECT_EQ(r.events().back().value("error").toString(),
              "the unit did not come back within 30 s of the restart");
}

}  // namespace
