// The emulated USB cable: unplugging, plugging in, and the unit's restart.
#include <gtest/gtest.h>
#include <hidapi.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/hidapi/emulated_hidapi.h"
#include "unit_test_support.h"

using namespace emu_test;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> report(uint32_t id, uint8_t len, const std::vector<uint8_t>& payload) {
    return cat(cat({0x05}, le32(id)), cat({len}, payload));
}

const std::vector<uint8_t> kWhoami = report(0x010, 2, {0xEF, 0x15});

int write(hid_device* d, const std::vector<uint8_t>& r) {
    return hid_write(d, r.data(), r.size());
}

int read(hid_device* d, int ms) {
    std::vector<uint8_t> buf(128, 0);
    return hid_read_timeout(d, buf.data(), buf.size(), ms);
}

bool unit_listed() {
    hid_device_info* list = hid_enumerate(0x16D0, 0x14C7);
    bool found = false;
    for (hid_device_info* i = list; i != nullptr; i = i->next) {
        found = found || std::string(i->path) == "emu-hid-0";
    }
    hid_free_enumeration(list);
    return found;
}

// Polls the enumeration as a tool waiting for the unit would; the time until the unit is
// listed again, or nothing when it is not back within `bound`.
std::optional<Clock::duration> wait_listed(Clock::time_point since, Clock::duration bound) {
    while (Clock::now() - since < bound) {
        if (unit_listed()) {
            return Clock::now() - since;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

long long ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

class HidapiPlug : public testing::Test {
protected:
    void SetUp() override { emu_hid::reset(); }
    void TearDown() override {
        for (hid_device* d : opened) {
            hid_close(d);
        }
        emu_hid::reset();
    }
    hid_device* open_unit() {
        hid_device* d = hid_open_path("emu-hid-0");
        if (d != nullptr) {
            opened.push_back(d);
        }
        return d;
    }
    std::vector<hid_device*> opened;
};

TEST_F(HidapiPlug, UnplugHidesTheUnitAndKillsItsHandlesForGood) {
    emu_hid::set_interfaces({{0x16D0, 0x14C7, 0xFF00, "emu-hid-0", true},
                             {0x16D0, 0x14C7, 0x0001, "keyboard-page", false}});
    hid_device* old = open_unit();
    ASSERT_NE(old, nullptr);
    EXPECT_TRUE(emu_hid::plugged());

    emu_hid::unplug();
    EXPECT_FALSE(emu_hid::plugged());
    EXPECT_FALSE(unit_listed());
    hid_device_info* rest = hid_enumerate(0x16D0, 0x14C7);
    ASSERT_NE(rest, nullptr) << "another device went away with the unit";
    EXPECT_STREQ(rest->path, "keyboard-page");
    hid_free_enumeration(rest);
    EXPECT_EQ(write(old, kWhoami), -1);
    EXPECT_EQ(read(old, 50), -1);
    EXPECT_EQ(hid_open_path("emu-hid-0"), nullptr);

    emu_hid::plug();
    EXPECT_TRUE(emu_hid::plugged());
    EXPECT_TRUE(unit_listed());
    EXPECT_EQ(write(old, kWhoami), -1) << "a handle from before the unplug came back to life";
    EXPECT_EQ(read(old, 50), -1);
    hid_device* fresh = open_unit();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(write(fresh, kWhoami), 8);
    EXPECT_EQ(read(fresh, 1000), 15);
    EXPECT_EQ(emu_hid::unit().received().size(), 1u) << "the dead handle's writes reached the unit";
}

TEST_F(HidapiPlug, AnswersInFlightDieWithTheCable) {
    hid_device* old = open_unit();
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(write(old, kWhoami), 8);
    emu_hid::unplug();
    emu_hid::plug();
    hid_device* fresh = open_unit();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(read(fresh, 100), 0) << "an answer to a request before the unplug arrived";
}

TEST_F(HidapiPlug, UnplugWakesABlockedRead) {
    hid_device* d = open_unit();
    ASSERT_NE(d, nullptr);
    const Clock::time_point start = Clock::now();
    auto reader = std::async(std::launch::async, [d] { return read(d, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    emu_hid::unplug();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), -1);
    EXPECT_LT(ms(Clock::now() - start), 3000);
}

struct RebootCase {
    const char* name;
    emu::Generation gen;
    uint32_t enter_bl;
    uint32_t reboot_ms;
};

TEST_F(HidapiPlug, RebootVanishesAndReturnsAfterRebootMs) {
    const RebootCase cases[] = {
        {"current", emu::Generation::Current, 0x3B0, 200},
        {"legacy", emu::Generation::Legacy, 0x399, 120},
    };
    for (const RebootCase& c : cases) {
        SCOPED_TRACE(c.name);
        emu_hid::reset();
        emu_hid::unit().set_generation(c.gen);
        emu_hid::unit().set_reboot_ms(c.reboot_ms);
        hid_device* old = open_unit();
        ASSERT_NE(old, nullptr);
        const Clock::time_point sent = Clock::now();
        EXPECT_EQ(write(old, report(c.enter_bl, 1, {0x48})), 7) << "the reboot frame failed";
        EXPECT_FALSE(emu_hid::plugged());
        EXPECT_FALSE(unit_listed());
        EXPECT_EQ(hid_open_path("emu-hid-0"), nullptr);
        EXPECT_EQ(write(old, kWhoami), -1);
        EXPECT_EQ(read(old, 20), -1);

        const std::optional<Clock::duration> back = wait_listed(sent, std::chrono::seconds(3));
        ASSERT_TRUE(back) << "not back within 3 s";
        EXPECT_GE(ms(*back), c.reboot_ms);
        EXPECT_TRUE(emu_hid::plugged());
        EXPECT_EQ(write(old, kWhoami), -1) << "the handle survived the restart";
        hid_device* fresh = open_unit();
        ASSERT_NE(fresh, nullptr);
        EXPECT_GT(write(fresh, report(c.enter_bl == 0x3B0 ? 0x010 : 0x123, 2, {0xEF, 0x15})), 0);
        EXPECT_EQ(read(fresh, 1000), 15);
        EXPECT_EQ(emu_hid::unit().reboot_count(), 1u);
    }
}

TEST_F(HidapiPlug, CableActionsEndARestartUnderWay) {
    emu_hid::unit().set_reboot_ms(60);
    hid_device* d = open_unit();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(write(d, report(0x3B0, 1, {0x48})), 7);
    emu_hid::unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(emu_hid::plugged()) << "an unplugged unit plugged itself in";
    emu_hid::plug();
    EXPECT_TRUE(unit_listed());

    emu_hid::unit().set_reboot_ms(60000);
    d = open_unit();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(write(d, report(0x3B0, 1, {0x48})), 7);
    emu_hid::plug();
    EXPECT_TRUE(unit_listed()) << "plug() waited for the restart";
    ASSERT_NE(d = open_unit(), nullptr);
    ASSERT_EQ(write(d, report(0x3B0, 1, {0x48})), 7);
    emu_hid::reset();
    EXPECT_TRUE(emu_hid::plugged());
    EXPECT_TRUE(unit_listed());
    EXPECT_NE(open_unit(), nullptr);
}

}  // namespace
