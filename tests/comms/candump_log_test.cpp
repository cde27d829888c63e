// Trace lines in the candump -L log format, and the trace file that collects them.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comms/candump_log.h"

namespace {

using Bytes = std::vector<uint8_t>;

TappedFrame tapped(COMM_INTERFACE_t iface, uint32_t can_id, bool fd, uint8_t flags,
                   const Bytes& payload, int64_t time_us = 1700000000123456) {
    TappedFrame f;
    f.time_us = time_us;
    f.iface = iface;
    f.can_id = can_id;
    f.fd = fd;
    f.flags = flags;
    f.len = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), f.data);
    return f;
}

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i);
    }
    return b;
}

std::string counting_hex(size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[i >> 4];
        s += kDigits[i & 0xF];
    }
    return s;
}

struct LineCase {
    const char* name;
    TappedFrame frame;
    const char* interface_name;
    std::string line;
};

class CandumpLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CandumpLine, MatchesTheLogFormat) {
    const LineCase& c = GetParam();
    EXPECT_EQ(candump_line(c.frame, c.interface_name), c.line);
}

// A frame whose length says more than it may carry.
TappedFrame overlong_classic_rtr() {
    TappedFrame f = tapped(CAN_FD, 0x123 | CAN_RTR_FLAG, false, 0, {});
    f.len = 4;  // the remote frame's requested length, with no data behind it
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CandumpLine,
    ::testing::Values(
        LineCase{"FdElevenBitWithBitRateSwitch",
                 tapped(CAN_FD, 0x380, true, CANFD_BRS, {0x78, 0x56, 0x34, 0x12}), "can0",
                 "(1700000000.123456) can0 380##178563412"},
        LineCase{"FdWithoutBitRateSwitch", tapped(CAN_FD, 0x010, true, 0, {0xEF, 0x15}), "can0",
                 "(1700000000.123456) can0 010##0EF15"},
        LineCase{"FdFlagsAboveTheLowDigitLeftOut", tapped(CAN_FD, 0x001, true, 0xF1, {0x00}),
                 "can0", "(1700000000.123456) can0 001##100"},
        LineCase{"FdZeroLength", tapped(CAN_FD, 0x730, true, CANFD_BRS, {}), "can0",
                 "(1700000000.123456) can0 730##1"},
        LineCase{"FdSixtyFourBytes", tapped(CAN_FD, 0x420, true, CANFD_BRS, counting(64)), "can0",
                 "(1700000000.123456) can0 420##1" + counting_hex(64)},
        LineCase{"ElevenBitIdentifierMasked", tapped(CAN_FD, 0x1380, true, CANFD_BRS, {0x01}),
                 "can0", "(1700000000.123456) can0 380##101"},
        LineCase{"ExtendedIdentifier",
                 tapped(CAN_FD, 0x12345678 | CAN_EFF_FLAG, true, CANFD_BRS, {0xAB, 0xCD}), "can0",
                 "(1700000000.123456) can0 12345678##1ABCD"},
        LineCase{"ExtendedSmallIdentifierKeepsEightDigits",
                 tapped(CAN_FD, 0x010 | CAN_EFF_FLAG, true, 0, {}), "can0",
                 "(1700000000.123456) can0 00000010##0"},
        LineCase{"ClassicDataFrame",
                 tapped(CAN_FD, 0x123, false, 0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}),
                 "can0", "(1700000000.123456) can0 123#0102030405060708"},
        LineCase{"ClassicExtendedDataFrame",
                 tapped(CAN_FD, 0x1ABCDEF0 | CAN_EFF_FLAG, false, 0, {0xFF}), "can0",
                 "(1700000000.123456) can0 1ABCDEF0#FF"},
        LineCase{"ClassicRemoteFrame", overlong_classic_rtr(), "can0",
                 "(1700000000.123456) can0 123#R"},
        LineCase{"ErrorFrame",
                 tapped(CAN_FD, CAN_ERR_FLAG | CAN_ERR_CRTL, false, 0,
                        {0x00, CAN_ERR_CRTL_RX_WARNING, 0, 0, 0, 0, 0, 0}),
                 "can0", "(1700000000.123456) can0 20000004#0004000000000000"},
        LineCase{"ErrorFrameReadAsFdStaysClassic",
                 tapped(CAN_FD, CAN_ERR_FLAG | CAN_ERR_BUSOFF | CAN_RTR_FLAG, true, CANFD_BRS,
                        {0x00, 0x01}),
                 "can0", "(1700000000.123456) can0 20000040#0001"},
        LineCase{"UsbFrameIsFdWithFlagsZero",
                 tapped(USB_HID, 0x380, false, CANFD_BRS, {0x78, 0x56, 0x34, 0x12}), "usbhid",
                 "(1700000000.123456) usbhid 380##078563412"},
        LineCase{"UsbIdentifierBitsAreNotErrorOrRemote",
                 tapped(USB_HID, 0x010 | CAN_ERR_FLAG | CAN_RTR_FLAG, true, 0, {0xEF, 0x15}),
                 "usbhid", "(1700000000.123456) usbhid 010##0EF15"},
        LineCase{"MicrosecondsZeroPadded", tapped(CAN_FD, 0x380, true, 1, {}, 1700000000000042),
                 "can0", "(1700000000.000042) can0 380##1"},
        LineCase{"InterfaceNameAsGiven", tapped(CAN_FD, 0x380, true, 1, {}, 1000000), "efis-bus.1",
                 "(1.000000) efis-bus.1 380##1"}),
    [](const auto& info) { return std::string(info.param.name); });

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class CandumpTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "candump_trace_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    }
    void TearDown() override { unlink(path_.c_str()); }

    std::string path_;
};

TEST_F(CandumpTraceTest, WritesOneLinePerFrameUnderEachLinksName) {
    CandumpTrace trace;
    std::string error;
    ASSERT_TRUE(trace.open(path_, "vcan0", &error)) << error;
    const FrameTap tap = trace.tap();
    tap(tapped(CAN_FD, 0x370, true, CANFD_BRS, {0x18}, 1700000000000001));
    tap(tapped(CAN_FD, 0x380, false, 0, {0x01, 0x02}, 1700000000000002));
    tap(tapped(USB_HID, 0x010, true, 0, {0xEF, 0x15}, 1700000000000003));
    EXPECT_TRUE(trace.close(&error)) << error;
    const std::string expected =
        "(1700000000.000001) vcan0 370##118\n"
        "(1700000000.000002) vcan0 380#0102\n"
        "(1700000000.000003) usbhid 010##0EF15\n";
    EXPECT_EQ(read_file(path_), expected);
    // Closed: the tap writes nothing more, and closing again is harmless.
    tap(tapped(CAN_FD, 0x370, true, CANFD_BRS, {0x18}));
    EXPECT_TRUE(trace.close(&error));
    EXPECT_EQ(read_file(path_), expected);
}

TEST_F(CandumpTraceTest, OpenTruncatesAnExistingFile) {
    { std::ofstream(path_) << "an earlier session's trace, much longer than the new one\n"; }
    CandumpTrace trace;
    ASSERT_TRUE(trace.open(path_, "can0", nullptr));
    trace.tap()(tapped(CAN_FD, 0x730, true, CANFD_BRS, {}, 5000001));
    ASSERT_TRUE(trace.close(nullptr));
    EXPECT_EQ(read_file(path_), "(5.000001) can0 730##1\n");
}

TEST_F(CandumpTraceTest, DestructorAndReopenFinishTheFile) {
    const std::string second = path_ + ".second";
    {
        CandumpTrace trace;
        ASSERT_TRUE(trace.open(path_, "can0", nullptr));
        trace.tap()(tapped(CAN_FD, 0x001, true, 0, {}, 1000000));
        ASSERT_TRUE(trace.open(second, "can1", nullptr));
        trace.tap()(tapped(CAN_FD, 0x002, true, 0, {}, 2000000));
    }
    EXPECT_EQ(read_file(path_), "(1.000000) can0 001##0\n");
    EXPECT_EQ(read_file(second), "(2.000000) can1 002##0\n");
    unlink(second.c_str());
}

TEST_F(CandumpTraceTest, LinesFromSeveralThreadsStayWhole) {
    CandumpTrace trace;
    ASSERT_TRUE(trace.open(path_, "can0", nullptr));
    const FrameTap tap = trace.tap();
    constexpr int kPerThread = 2000;
    std::vector<std::thread> threads;
    for (const COMM_INTERFACE_t iface : {CAN_FD, USB_HID}) {
        threads.emplace_back([&tap, iface] {
            for (int i = 0; i < kPerThread; ++i) {
                tap(tapped(iface, 0x420, true, 0, counting(64), 1000000));
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ASSERT_TRUE(trace.close(nullptr));
    const std::string can_line = "(1.000000) can0 420##0" + counting_hex(64);
    const std::string usb_line = "(1.000000) usbhid 420##0" + counting_hex(64);
    std::istringstream lines(read_file(path_));
    int can_lines = 0;
    int usb_lines = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == can_line) {
            ++can_lines;
        } else if (line == usb_line) {
            ++usb_lines;
        } else {
            ADD_FAILURE() << "torn line: " << line;
            break;
        }
    }
    EXPECT_EQ(can_lines, kPerThread);
    EXPECT_EQ(usb_lines, kPerThread);
}

struct OpenFailure {
    const char* name;
    std::string path;
    int err;
};

class CandumpTraceOpen : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(CandumpTraceOpen, FailsWithTheSystemsReason) {
    const OpenFailure& c = GetParam();
    CandumpTrace trace;
    std::string error;
    EXPECT_FALSE(trace.open(c.path, "can0", &error));
    EXPECT_EQ(error, "cannot write " + c.path + ": " + std::strerror(c.err));
    // Nothing is open: the tap drops frames and close has nothing to report.
    trace.tap()(tapped(CAN_FD, 0x380, true, 1, {}));
    error.clear();
    EXPECT_TRUE(trace.close(&error));
    EXPECT_EQ(error, "");
}

INSTANTIATE_TEST_SUITE_P(Paths, CandumpTraceOpen,
                         ::testing::Values(OpenFailure{"MissingDirectory",
                                                       "/nonexistent-efis-dir/trace.log", ENOENT},
                                           OpenFailure{"Directory", "/", EISDIR}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CandumpTraceFull, AFullDiskIsReportedAtClose) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    CandumpTrace trace;
    std::string error;
    ASSERT_TRUE(trace.open("/dev/full", "can0", &error)) << error;
    // Far more than the buffer holds, so that writes fail while frames still come in; the
    // link that called the tap may still look at its own errno.
    const FrameTap tap = trace.tap();
    for (int i = 0; i < 2000; ++i) {
        errno = EAGAIN;
        tap(tapped(CAN_FD, 0x420, true, 1, counting(64)));
        ASSERT_EQ(errno, EAGAIN) << "frame " << i;
    }
    EXPECT_FALSE(trace.close(&error));
    EXPECT_EQ(error, "cannot write /dev/full: " + std::string(std::strerror(ENOSPC)));
}

}  // namespace
