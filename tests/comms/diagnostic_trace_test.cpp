// The in-memory diagnostic trace: what it keeps when full, and the saved lines.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "comms/diagnostic_trace.h"

namespace {

TappedFrame frame(int64_t time_us, COMM_INTERFACE_t iface, uint32_t id, uint8_t first_byte) {
    TappedFrame f;
    f.time_us = time_us;
    f.iface = iface;
    f.sent = true;
    f.can_id = id;
    f.fd = true;
    f.len = 2;
    f.data[0] = first_byte;
    f.data[1] = 0x15;
    return f;
}

TEST(DiagnosticTrace, KeepsTheLastFramesAndLinesInTimeOrder) {
    DiagnosticTrace trace(3, 2);
    for (int i = 0; i < 5; ++i) {
        trace.addFrame(
            frame(1000000 + i * 10, i % 2 == 0 ? USB_HID : CAN_FD, 0x010, static_cast<uint8_t>(i)));
    }
    trace.addLine(1000005, "dropped: oldest of three lines");
    trace.addLine(1000025, "between the third and fourth frame");
    trace.addLine(2000000, "after every frame\nsecond line of it");
    EXPECT_EQ(trace.frameCount(), 3u);
    const std::vector<std::string> expected = {
        "(1.000020) usbhid 010##002",
        "# (1.000025) between the third and fourth frame",
        "(1.000030) can7 010##003",
        "(1.000040) usbhid 010##004",
        "# (2.000000) after every frame second line of it",
    };
    const auto lines = trace.lines("can7");
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        // The payload's second byte (0x15) follows each shown prefix.
        EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
    }
}

TEST(DiagnosticTrace, TapIsSafeFromSeveralThreads) {
    DiagnosticTrace trace(10000, 10);
    const FrameTap tap = trace.tap();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&tap, t]() {
            for (int i = 0; i < 5000; ++i) {
                tap(frame(i, CAN_FD, 0x123, static_cast<uint8_t>(t)));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(trace.frameCount(), 10000u);
    for (const std::string& line : trace.lines("can0")) {
        EXPECT_NE(line.find(" can0 123##0"), std::string::npos) << line;
    }
}

}  // namespace
