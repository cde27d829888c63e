// The CAN FD transport on a machine without SocketCAN, and its frame translation.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "comms/canfd/canfd.h"
#include "comms/canfd/canfd_frame_map.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The system's error text for opening a CAN socket, or empty when SocketCAN is available.
std::string can_socket_error() {
    const int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (fd >= 0) {
        close(fd);
        return std::string();
    }
    return std::strerror(errno);
}

TEST(CanFdNoSocketCan, ConnectReportsTheSocketErrorAndStaysClosed) {
    const std::string err = can_socket_error();
    if (err.empty()) {
        GTEST_SKIP() << "SocketCAN is available here";
    }
    CANFD can;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(can.connect("can0"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to create temporary CAN socket: " + err + "\n");
    EXPECT_FALSE(can.isConnected());
}

TEST(CanFdClosed, WriteReportsNotConnected) {
    CANFD can;
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = 0x370;
    msg.msg_len = CAN_1_BYTES;
    testing::internal::CaptureStderr();
    EXPECT_EQ(can.write(msg), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CANFD::write: Not connected or invalid socket\n");
}

TEST(CanFdClosed, ReadAndRawWriteFailSilently) {
    CANFD can;
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    const uint8_t raw[] = {0x70, 0x03, 0x00, 0x00, 0x01, 0x18};
    testing::internal::CaptureStderr();
    EXPECT_EQ(can.read(&msg), -1);
    EXPECT_EQ(can.read(nullptr), -1);
    EXPECT_EQ(can.read_nowait(&msg), -1);
    EXPECT_EQ(can.read_nowait(nullptr), -1);
    EXPECT_EQ(can.write(raw, sizeof(raw)), -1);
    can.disconnect();
    can.disconnect();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(can.isConnected());
}

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(0x10 + i);
    }
    return b;
}

struct SendCase {
    const char* name;
    uint32_t id;
    uint8_t code;
    uint8_t len;
};

class CanFdSendMapping : public ::testing::TestWithParam<SendCase> {};

TEST_P(CanFdSendMapping, FrameGoesOutAsFdFrameWithBitRateSwitching) {
    const SendCase& c = GetParam();
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.iface = USB_HID;
    msg.can_ID = c.id;
    msg.msg_len = static_cast<CAN_MSG_LEN_t>(c.code);
    const Bytes all = counting(64);
    std::memcpy(msg.data, all.data(), all.size());

    const canfd_frame f = canfd_frame_from_msg(msg);
    EXPECT_EQ(f.can_id, c.id);
    EXPECT_EQ(f.len, c.len);
    EXPECT_EQ(f.flags, CANFD_BRS);
    EXPECT_EQ(f.__res0, 0);
    EXPECT_EQ(f.__res1, 0);
    Bytes expected(all.begin(), all.begin() + c.len);
    expected.resize(64, 0);
    EXPECT_EQ(Bytes(f.data, f.data + 64), expected);
}

INSTANTIATE_TEST_SUITE_P(Frames, CanFdSendMapping,
                         ::testing::Values(SendCase{"Empty", 0x730, CAN_0_BYTES, 0},
                                           SendCase{"OneByte", 0x370, CAN_1_BYTES, 1},
                                           SendCase{"EightBytes", 0x010, CAN_8_BYTES, 8},
                                           SendCase{"CodeNineIsTwelveBytes", 0x420, 9, 12},
                                           SendCase{"CodeFourteenIs48Bytes", 0x420, 14, 48},
                                           SendCase{"CodeFifteenIs64Bytes", 0x420, 15, 64},
                                           SendCase{"CodeAboveFifteenIsEmpty", 0x420, 16, 0},
                                           SendCase{"IdentifierUnchanged", 0x80000123u, CAN_2_BYTES,
                                                    2}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReceiveCase {
    const char* name;
    uint32_t can_id;
    uint8_t len;
    uint8_t code;
    uint8_t copied;
};

class CanFdReceiveMapping : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(CanFdReceiveMapping, BusFrameBecomesZeroFilledFrame) {
    const ReceiveCase& c = GetParam();
    canfd_frame f;
    std::memset(&f, 0, sizeof(f));
    f.can_id = c.can_id;
    f.len = c.len;
    f.flags = CANFD_BRS | CANFD_ESI;
    const Bytes sent = counting(c.len);
    std::copy(sent.begin(), sent.end(), f.data);

    COMMS_MSG_t msg;
    std::memset(&msg, 0xA5, sizeof(msg));
    msg_from_canfd_frame(f, &msg);
    EXPECT_EQ(msg.iface, CAN_FD);
    EXPECT_EQ(uint32_t{msg.can_ID}, c.can_id);
    EXPECT_EQ(msg.msg_len, c.code);
    Bytes expected = counting(c.len);
    expected.resize(c.copied, 0);
    expected.resize(64, 0);
    EXPECT_EQ(Bytes(msg.data, msg.data + 64), expected);
    EXPECT_EQ(msg.padding[0], 0);
    EXPECT_EQ(msg.padding[1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CanFdReceiveMapping,
    ::testing::Values(ReceiveCase{"ClassicEightBytes", 0x380, 8, 8, 8},
                      ReceiveCase{"Empty", 0x0E0, 0, 0, 0},
                      ReceiveCase{"TwelveBytesIsCodeNine", 0x0F0, 12, 9, 12},
                      ReceiveCase{"OddCountRaisedToNextSize", 0x0F0, 10, 9, 10},
                      ReceiveCase{"SixtyFourBytes", 0x420, 64, 15, 64},
                      ReceiveCase{"ExtendedFlagKept", CAN_EFF_FLAG | 0x010, 8, 8, 8},
                      ReceiveCase{"ErrorAndRemoteFlagsKept", CAN_ERR_FLAG | CAN_RTR_FLAG | 0x10, 0,
                                  0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CanFdReceiveMapping, OversizedLengthIsClampedToSixtyFourBytes) {
    canfd_frame f;
    std::memset(&f, 0xCC, sizeof(f));
    f.can_id = 0x380;
    f.len = 200;
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg_from_canfd_frame(f, &msg);
    EXPECT_EQ(msg.msg_len, CAN_64_BYTES);
    EXPECT_EQ(Bytes(msg.data, msg.data + 64), Bytes(64, 0xCC));
    EXPECT_EQ(msg.padding[0], 0);
}

}  // namespace
