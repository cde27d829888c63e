// The emulated hidapi's scripted link, on which only injected reports arrive.
#include <gtest/gtest.h>
#include <hidapi.h>

#include <chrono>
#include <vector>

#include "emulator/hidapi/emulated_hidapi.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// The current WHOAMI request, which the unit always answers.
const Bytes kWhoami = {0x05, 0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15};

struct Read {
    int result;
    Bytes report;
};

class ScriptedLink : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        dev = hid_open_path("emu-hid-0");
        ASSERT_NE(dev, nullptr);
    }
    void TearDown() override {
        hid_close(dev);
        emu_hid::reset();
    }
    Read read(int ms = 0) {
        Bytes buf(128, 0);
        const int n = hid_read_timeout(dev, buf.data(), buf.size(), ms);
        buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return {n, buf};
    }
    void write(const Bytes& r) { ASSERT_EQ(hid_write(dev, r.data(), r.size()), int(r.size())); }

    hid_device* dev = nullptr;
};

TEST_F(ScriptedLink, UnitStaysSilentAndAnEmptyLinkFailsWithoutWaiting) {
    emu_hid::set_scripted(true);
    write(kWhoami);
    EXPECT_EQ(emu_hid::output_reports(), std::vector<Bytes>{kWhoami}) << "requests still recorded";
    const auto start = Clock::now();
    EXPECT_EQ(read(1000).result, -1);
    EXPECT_EQ(read(0).result, -1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "no time-out waited out";

    emu_hid::set_scripted(false);
    write(kWhoami);
    EXPECT_EQ(read(1000).report.size(), 15u) << "the unit answers again";
}

TEST_F(ScriptedLink, EachWriteReleasesItsOwnReportsInOrder) {
    emu_hid::set_scripted(true);
    const Bytes a1 = {0x01, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00};
    const Bytes a2 = {0x01, 0x00, 0xE1, 0x00, 0x00, 0x00, 0x00};
    const Bytes b = {0x01, 0x00, 0xE2, 0x00, 0x00, 0x00, 0x00};
    emu_hid::inject_after_writes(2, b);
    emu_hid::inject_after_writes(1, a1);
    emu_hid::inject_after_writes(1, a2);
    EXPECT_EQ(read().result, -1) << "nothing before the first request";
    write(kWhoami);
    EXPECT_EQ(read().report, a1);
    EXPECT_EQ(read().report, a2);
    EXPECT_EQ(read().result, -1) << "the second request's report waits for it";
    write(kWhoami);
    EXPECT_EQ(read().report, b);
    write(kWhoami);
    EXPECT_EQ(read().result, -1);
}

TEST_F(ScriptedLink, SwitchingOrResettingStartsANewScript) {
    emu_hid::inject_input_report({0x01, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00});
    emu_hid::inject_after_next_write({0x01, 0x00, 0xE1, 0x00, 0x00, 0x00, 0x00});
    emu_hid::inject_after_writes(1, {0x01, 0x00, 0xE2, 0x00, 0x00, 0x00, 0x00});
    emu_hid::set_scripted(true);
    EXPECT_EQ(read().result, -1);
    write(kWhoami);
    EXPECT_EQ(read().result, -1) << "reports held before the switch are dropped";

    emu_hid::inject_after_writes(1, {0x01, 0x00, 0xE3, 0x00, 0x00, 0x00, 0x00});
    hid_close(dev);
    emu_hid::reset();
    dev = hid_open_path("emu-hid-0");
    ASSERT_NE(dev, nullptr);
    write(kWhoami);
    const Read answer = read(1000);
    ASSERT_EQ(answer.report.size(), 15u) << "after a reset the unit answers";
    EXPECT_EQ(answer.report[2], 0x10);
    EXPECT_EQ(read(0).result, 0) << "and an empty link reads as silent again";
}

}  // namespace
