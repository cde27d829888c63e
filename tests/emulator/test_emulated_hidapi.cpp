// The emulated hidapi as the tool's USB transport sees it.
#include <gtest/gtest.h>
#include <hidapi.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "emulator/hidapi/emulated_hidapi.h"
#include "unit_test_support.h"

using namespace emu_test;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> report(uint32_t id, uint8_t len, const std::vector<uint8_t>& payload) {
    return cat(cat({0x05}, le32(id)), cat({len}, payload));
}

int write(hid_device* d, const std::vector<uint8_t>& r) {
    return hid_write(d, r.data(), r.size());
}

std::vector<uint8_t> read(hid_device* d, int ms = 1000, size_t cap = 128) {
    std::vector<uint8_t> buf(cap, 0xCC);
    const int n = hid_read_timeout(d, buf.data(), buf.size(), ms);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

long long ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class EmulatedHidapi : public testing::Test {
protected:
    void SetUp() override { emu_hid::reset(); }
    void TearDown() override {
        if (dev != nullptr) {
            hid_close(dev);
        }
        emu_hid::reset();
    }
    hid_device* open_unit() {
        dev = hid_open_path("emu-hid-0");
        return dev;
    }
    hid_device* dev = nullptr;
};

TEST_F(EmulatedHidapi, DefaultEnumerationIsTheUnitOnTheVendorPage) {
    for (auto ids :
         {std::pair<unsigned short, unsigned short>{0x16D0, 0x14C7}, {0, 0}, {0x16D0, 0}}) {
        hid_device_info* list = hid_enumerate(ids.first, ids.second);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->vendor_id, 0x16D0);
        EXPECT_EQ(list->product_id, 0x14C7);
        EXPECT_EQ(list->usage_page, 0xFF00);
        EXPECT_STREQ(list->path, "emu-hid-0");
        EXPECT_EQ(list->next, nullptr);
        hid_free_enumeration(list);
    }
    EXPECT_EQ(hid_enumerate(0x1234, 0), nullptr);
    EXPECT_EQ(hid_enumerate(0x16D0, 0x0001), nullptr);
}

TEST_F(EmulatedHidapi, ConfiguredInterfacesAreListedInOrderAndFiltered) {
    emu_hid::set_interfaces({{0x16D0, 0x14C7, 0x0001, "keyboard-page", false},
                             {0x046D, 0xC52B, 0xFF00, "other-device", false},
                             {0x16D0, 0x14C7, 0xFF00, "unit-page", true}});
    hid_device_info* list = hid_enumerate(0x16D0, 0x14C7);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->usage_page, 0x0001);
    EXPECT_STREQ(list->path, "keyboard-page");
    ASSERT_NE(list->next, nullptr);
    EXPECT_STREQ(list->next->path, "unit-page");
    EXPECT_EQ(list->next->next, nullptr);
    hid_free_enumeration(list);
    hid_device_info* all = hid_enumerate(0, 0);
    int n = 0;
    for (hid_device_info* i = all; i != nullptr; i = i->next) {
        ++n;
    }
    EXPECT_EQ(n, 3);
    hid_free_enumeration(all);

    // The other interface opens but never answers.
    hid_device* keyboard = hid_open_path("keyboard-page");
    ASSERT_NE(keyboard, nullptr);
    EXPECT_EQ(write(keyboard, report(0x010, 2, {0xEF, 0x15})), 8);
    EXPECT_EQ(hid_read_timeout(keyboard, std::vector<uint8_t>(128).data(), 128, 30), 0);
    EXPECT_TRUE(emu_hid::unit().received().empty());
    hid_close(keyboard);
    dev = hid_open_path("unit-page");
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(write(dev, report(0x010, 2, {0xEF, 0x15})), 8);
    EXPECT_EQ(read(dev).size(), 15u);
}

TEST_F(EmulatedHidapi, NothingAttachedAndOpenFailures) {
    emu_hid::set_interfaces({});
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(hid_open_path("emu-hid-0"), nullptr);
    emu_hid::reset();
    EXPECT_EQ(hid_open_path("no-such-path"), nullptr);
    EXPECT_EQ(hid_open_path(nullptr), nullptr);
    emu_hid::set_fail_open(true);
    EXPECT_EQ(hid_open_path("emu-hid-0"), nullptr);
    EXPECT_EQ(emu_hid::open_count(), 0u);
}

TEST_F(EmulatedHidapi, CountsInitOpenAndClose) {
    EXPECT_EQ(hid_init(), 0);
    EXPECT_EQ(hid_init(), 0);
    EXPECT_EQ(hid_exit(), 0);
    EXPECT_EQ(emu_hid::init_count(), 1);
    ASSERT_NE(open_unit(), nullptr);
    EXPECT_TRUE(emu_hid::device_open());
    EXPECT_EQ(emu_hid::open_count(), 1u);
    hid_close(dev);
    hid_close(dev);  // a second close is harmless
    EXPECT_EQ(emu_hid::close_count(), 1u);
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(write(dev, report(0x010, 2, {0xEF, 0x15})), -1);
    EXPECT_EQ(hid_read_timeout(dev, std::vector<uint8_t>(128).data(), 128, 10), -1);
    dev = nullptr;
    EXPECT_EQ(hid_write(nullptr, nullptr, 0), -1);
    EXPECT_EQ(hid_read_timeout(nullptr, nullptr, 0, 0), -1);
}

TEST_F(EmulatedHidapi, ReportsAreEncodedAsTheUnitDoes) {
    ASSERT_NE(open_unit(), nullptr);
    const auto out = report(0x390, 5, {0x18, 0x50, 0x00, 0x00, 0x00});
    EXPECT_EQ(write(dev, out), 11);
    EXPECT_EQ(read(dev), (std::vector<uint8_t>{0x01, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x04, 0x00, 0x90,
                                               0x03, 0x01}));
    EXPECT_EQ(emu_hid::output_reports(), (std::vector<std::vector<uint8_t>>{out}));
    EXPECT_EQ(emu_hid::unit().settings().backlight_brightness, 0x50u);

    // A full 64-byte frame reaches the unit whole.
    std::vector<uint8_t> data(64);
    for (size_t i = 0; i < 64; ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    emu_hid::unit().clear_received();
    EXPECT_EQ(write(dev, report(0x420, 15, data)), 70);
    const auto got = emu_hid::unit().received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].iface, USB_HID);
    EXPECT_EQ(got[0].msg_len, 15);
    EXPECT_EQ(std::vector<uint8_t>(got[0].data, got[0].data + 64), data);
    EXPECT_EQ(read(dev), (std::vector<uint8_t>{0x01, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x06, 0xAA, 0, 0,
                                               0, 0, 0x01}));

    // An 8-byte reply is 15 bytes long; a short buffer takes its first bytes.
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    EXPECT_EQ(read(dev, 1000, 9),
              (std::vector<uint8_t>{0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x08, 0x00, 0xC0}));
}

TEST_F(EmulatedHidapi, MalformedReportsAreRecordedAndDropped) {
    ASSERT_NE(open_unit(), nullptr);
    const std::vector<std::vector<uint8_t>> bad = {
        cat({0x04}, cat(le32(0x010), {2, 0xEF, 0x15})),   // another report ID
        {0x05, 0x10, 0x00, 0x00, 0x00},                   // no length byte
        cat({0x05}, cat(le32(0x010), {2, 0xEF})),         // payload shorter than its code
        cat({0x05}, cat(le32(0x010), {16, 0xEF, 0x15})),  // length code out of range
    };
    for (const auto& r : bad) {
        EXPECT_EQ(write(dev, r), static_cast<int>(r.size()));
    }
    EXPECT_EQ(emu_hid::output_reports(), bad);
    EXPECT_TRUE(emu_hid::unit().received().empty());
    EXPECT_TRUE(read(dev, 20).empty());
    emu_hid::clear_output_reports();
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_F(EmulatedHidapi, InjectedReportsComeFirstAndUnchanged) {
    ASSERT_NE(open_unit(), nullptr);
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    const std::vector<uint8_t> raw{0x09, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x08};
    emu_hid::inject_input_report(raw);
    emu_hid::inject_input_report({0x01, 0x00});
    EXPECT_EQ(read(dev), raw);
    EXPECT_EQ(read(dev), (std::vector<uint8_t>{0x01, 0x00}));
    EXPECT_EQ(read(dev).size(), 15u);
}

TEST_F(EmulatedHidapi, ReportHeldForTheNextWriteComesAheadOfItsAnswer) {
    ASSERT_NE(open_unit(), nullptr);
    const std::vector<uint8_t> held{0x05, 0x00, 0x80, 0x03, 0x00, 0x00, 0x04, 1, 2, 3, 4};
    emu_hid::inject_after_next_write(held);
    EXPECT_TRUE(read(dev, 0).empty()) << "nothing may be readable before the request";
    write(dev, report(0x370, 1, {6}));
    EXPECT_EQ(read(dev, 0), held);
    EXPECT_EQ(read(dev, 0), cat({0x01, 0x00}, cat(le32(0x380), cat({4}, le32(150)))));
    write(dev, report(0x370, 1, {6}));
    EXPECT_EQ(read(dev, 0).size(), 11u) << "held once, for one write only";
    EXPECT_TRUE(read(dev, 0).empty());

    emu_hid::inject_after_next_write(held);
    emu_hid::reset();
    ASSERT_NE(open_unit(), nullptr);
    write(dev, report(0x370, 1, {6}));
    EXPECT_EQ(read(dev, 0).size(), 11u);
    EXPECT_TRUE(read(dev, 0).empty()) << "a reset drops held reports";
}

TEST_F(EmulatedHidapi, TimeOutIsHonoured) {
    ASSERT_NE(open_unit(), nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(hid_read_timeout(dev, std::vector<uint8_t>(128).data(), 128, 50), 0);
    EXPECT_GE(ms_since(start), 50);
    EXPECT_EQ(hid_read_timeout(dev, std::vector<uint8_t>(128).data(), 128, 0), 0);
}

TEST_F(EmulatedHidapi, DelayedAnswerAndLatency) {
    ASSERT_NE(open_unit(), nullptr);
    emu::Fault f;
    f.answer = emu::AnswerKind::Reply;
    f.delay_ms = 200;
    emu_hid::unit().set_fault(0x010, f);
    const auto start = Clock::now();
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    EXPECT_TRUE(read(dev, 20).empty());
    EXPECT_EQ(read(dev, 5000).size(), 15u);
    EXPECT_GE(ms_since(start), 200);

    emu_hid::unit().clear_faults();
    emu_hid::set_latency_us(150000);
    const auto again = Clock::now();
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    EXPECT_TRUE(read(dev, 10).empty());
    EXPECT_EQ(read(dev, 5000).size(), 15u);
    EXPECT_GE(ms_since(again), 150);
}

TEST_F(EmulatedHidapi, LinkEventsStampArrivalAtTheUnitAndDeliveryToTheTool) {
    ASSERT_NE(open_unit(), nullptr);
    const auto whoami = report(0x010, 2, {0xEF, 0x15});
    write(dev, whoami);
    EXPECT_EQ(read(dev).size(), 15u);
    EXPECT_TRUE(emu_hid::link_events().empty()) << "off by default";

    emu_hid::record_link_events(true);
    emu_hid::set_latency_us(20000);
    write(dev, whoami);
    const auto answer = read(dev, 5000);
    ASSERT_EQ(answer.size(), 15u);
    const auto events = emu_hid::link_events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].to_unit);
    EXPECT_EQ(events[0].report, whoami);
    EXPECT_FALSE(events[1].to_unit);
    EXPECT_EQ(events[1].report, answer);
    EXPECT_GE(events[1].at - events[0].at, std::chrono::milliseconds(20));

    emu_hid::reset();
    EXPECT_TRUE(emu_hid::link_events().empty());
    ASSERT_NE(open_unit(), nullptr);
    write(dev, whoami);
    EXPECT_EQ(read(dev).size(), 15u);
    EXPECT_TRUE(emu_hid::link_events().empty()) << "reset turns recording off";
}

TEST_F(EmulatedHidapi, LaterAnswersWaitBehindADelayedOne) {
    ASSERT_NE(open_unit(), nullptr);
    emu::Fault f;
    f.answer = emu::AnswerKind::CommandAck;
    f.delay_ms = 100;
    emu_hid::unit().set_fault(0x430, f);
    write(dev, report(0x430, 3, {0xBE, 1, 0}));
    const auto first = read(dev, 5000);
    ASSERT_EQ(first.size(), 11u);
    EXPECT_EQ(first[2], 0xE0);
    const auto second = read(dev, 5000);
    ASSERT_EQ(second.size(), 13u);
    EXPECT_EQ(second[2], 0xF0);
}

TEST_F(EmulatedHidapi, LinkVanishesAfterNFrames) {
    ASSERT_NE(open_unit(), nullptr);
    emu_hid::vanish_after(2);
    EXPECT_EQ(write(dev, report(0x010, 2, {0xEF, 0x15})), 8);
    EXPECT_EQ(read(dev).size(), 15u);
    EXPECT_EQ(write(dev, report(0x010, 2, {0xEF, 0x15})), 8);
    EXPECT_EQ(hid_read_timeout(dev, std::vector<uint8_t>(128).data(), 128, 100), -1);
    EXPECT_EQ(write(dev, report(0x010, 2, {0xEF, 0x15})), -1);
    EXPECT_EQ(emu_hid::output_reports().size(), 2u);
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(hid_open_path("emu-hid-0"), nullptr);
}

TEST_F(EmulatedHidapi, VanishNowWakesAWaitingReader) {
    ASSERT_NE(open_unit(), nullptr);
    std::atomic<int> result{1};
    std::thread reader([&] {
        std::vector<uint8_t> buf(128);
        result = hid_read_timeout(dev, buf.data(), buf.size(), 10000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    emu_hid::vanish_after(0);
    reader.join();
    EXPECT_EQ(result.load(), -1);
}

TEST_F(EmulatedHidapi, BackgroundTrafficIsInterleavedWithAnswers) {
    emu_hid::set_background_traffic(200, 0x2C0);
    ASSERT_NE(open_unit(), nullptr);
    int traffic = 0;
    const auto start = Clock::now();
    while (traffic < 5 && ms_since(start) < 5000) {
        const auto r = read(dev, 100);
        if (r.size() == 15 && r[2] == 0xC0 && r[3] == 0x02 && r[6] == 8) {
            ++traffic;
        }
    }
    EXPECT_EQ(traffic, 5);
    write(dev, report(0x370, 1, {24}));
    bool answered = false;
    for (int i = 0; i < 50 && !answered; ++i) {
        const auto r = read(dev, 1000);
        answered = r == std::vector<uint8_t>{0x01, 0x00, 0x80, 0x03, 0, 0, 0x04, 10, 0, 0, 0};
    }
    EXPECT_TRUE(answered);
    emu_hid::set_background_traffic(0, 0);
    while (!read(dev, 0).empty()) {
    }
    EXPECT_TRUE(read(dev, 30).empty());
}

TEST_F(EmulatedHidapi, ReaderWakesWhenAnotherThreadWrites) {
    ASSERT_NE(open_unit(), nullptr);
    std::vector<uint8_t> got;
    std::thread reader([&] { got = read(dev, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    reader.join();
    EXPECT_EQ(got.size(), 15u);
}

TEST_F(EmulatedHidapi, ConcurrentWritersReadersAndControlCallsAreSafe) {
    ASSERT_NE(open_unit(), nullptr);
    constexpr int kRequests = 300;
    std::atomic<bool> done{false};
    int answers = 0;
    std::thread reader([&] {
        const auto start = Clock::now();
        while (answers < kRequests && ms_since(start) < 20000) {
            if (read(dev, 50).size() == 11) {
                ++answers;
            }
        }
    });
    std::thread watcher([&] {
        while (!done) {
            (void)emu_hid::output_reports().size();
            (void)emu_hid::unit().received().size();
            (void)emu_hid::device_open();
        }
    });
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_EQ(write(dev, report(0x390, 5, {24, static_cast<uint8_t>(i), 0, 0, 0})), 11);
    }
    reader.join();
    done = true;
    watcher.join();
    EXPECT_EQ(answers, kRequests);
    EXPECT_EQ(emu_hid::output_reports().size(), static_cast<size_t>(kRequests));
}

TEST_F(EmulatedHidapi, DefaultUnitIsCurrentAndResetRestoresIt) {
    emu_hid::unit().set_generation(emu::Generation::Legacy);
    emu_hid::set_latency_us(1000);
    emu_hid::reset();
    ASSERT_NE(open_unit(), nullptr);
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    EXPECT_EQ(read(dev), (std::vector<uint8_t>{0x01, 0x00, 0x10, 0, 0, 0, 0x08, 0x00, 0xC0, 0xFF,
                                               0xEE, 0x00, 0x0C, 0x02, 0x00}));
    EXPECT_EQ(emu_hid::output_reports().size(), 1u);
}

TEST_F(EmulatedHidapi, PendingAnswersDieWithTheLastHandle) {
    ASSERT_NE(open_unit(), nullptr);
    write(dev, report(0x010, 2, {0xEF, 0x15}));
    hid_close(dev);
    ASSERT_NE(open_unit(), nullptr);
    EXPECT_TRUE(read(dev, 20).empty());
}

}  // namespace
