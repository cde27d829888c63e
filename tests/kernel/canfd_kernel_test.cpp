// The CAN FD transport on the kernel's own SocketCAN: a vcan interface in CAN FD mode, with a
// second raw socket as the other node on the bus. Also the interface list read from the
// kernel's sysfs and the udev monitor on the kernel's own events.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "comms/can_interfaces.h"
#include "comms/candump_log.h"
#include "comms/canfd/canfd.h"
#include "gui/device_events.h"
#include "tests/kernel/kernel_test_support.h"

namespace {

using kernel_test::BusPeer;
using kernel_test::ms_since;
using kernel_test::VcanInterface;

COMMS_MSG_t frame(uint32_t can_id, CAN_MSG_LEN_t code, uint8_t first_byte) {
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.can_ID = can_id;
    m.msg_len = code;
    for (size_t i = 0; i < sizeof(m.data); ++i) {
        m.data[i] = static_cast<uint8_t>(first_byte + i);
    }
    return m;
}

class CanFdOnVcan : public ::testing::Test {
protected:
    // One bus for the suite: the interface outlives the sockets of every case.
    static void SetUpTestSuite() { bus_ = new VcanInterface("can0"); }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(bus_->ok()) << "cannot create vcan can0";
        ASSERT_TRUE(canfd_.connect("can0"));
        peer_ = std::make_unique<BusPeer>("can0");
        ASSERT_TRUE(peer_->ok());
    }

    static VcanInterface* bus_;
    CANFD canfd_;
    std::unique_ptr<BusPeer> peer_;
};

VcanInterface* CanFdOnVcan::bus_ = nullptr;

TEST_F(CanFdOnVcan, ConnectsAndDisconnectClosesTheSocket) {
    EXPECT_TRUE(canfd_.isConnected());
    const int open_before = kernel_test::open_fd_count();
    canfd_.disconnect();
    EXPECT_FALSE(canfd_.isConnected());
    EXPECT_EQ(kernel_test::open_fd_count(), open_before - 1);
    canfd_.disconnect();
    EXPECT_EQ(kernel_test::open_fd_count(), open_before - 1);
}

TEST_F(CanFdOnVcan, ReconnectKeepsOneSocket) {
    const int open_before = kernel_test::open_fd_count();
    ASSERT_TRUE(canfd_.connect("can0"));
    EXPECT_EQ(kernel_test::open_fd_count(), open_before);
}

TEST_F(CanFdOnVcan, ClassicFrameOfEightBytesReadsAsSixteen) {
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(peer_->send_classic(0x123, data, 8));
    COMMS_MSG_t got;
    std::memset(&got, 0xAA, sizeof(got));
    ASSERT_EQ(canfd_.read(&got), 16);
    EXPECT_EQ(got.iface, CAN_FD);
    EXPECT_EQ(uint32_t{got.can_ID}, 0x123u);
    EXPECT_EQ(got.msg_len, CAN_8_BYTES);
    EXPECT_EQ(std::memcmp(got.data, data, 8), 0);
    for (size_t i = 8; i < sizeof(got.data); ++i) {
        ASSERT_EQ(got.data[i], 0) << "byte " << i;
    }
    EXPECT_EQ(got.padding[0], 0);
    EXPECT_EQ(got.padding[1], 0);
}

TEST_F(CanFdOnVcan, CanFdFramesDecodeWithTheirLengthCode) {
    struct Case {
        uint8_t len;
        CAN_MSG_LEN_t code;
    };
    for (const Case c : {Case{0, CAN_0_BYTES}, Case{12, CAN_12_BYTES}, Case{48, CAN_48_BYTES},
                         Case{64, CAN_64_BYTES}}) {
        uint8_t data[64];
        for (int i = 0; i < 64; ++i) {
            data[i] = static_cast<uint8_t>(0x40 + i);
        }
        ASSERT_TRUE(peer_->send_fd(0x380, data, c.len));
        COMMS_MSG_t got;
        ASSERT_EQ(canfd_.read(&got), 72) << "len " << int{c.len};
        EXPECT_EQ(uint32_t{got.can_ID}, 0x380u);
        EXPECT_EQ(got.msg_len, c.code);
        EXPECT_EQ(std::memcmp(got.data, data, c.len), 0);
        for (size_t i = c.len; i < sizeof(got.data); ++i) {
            ASSERT_EQ(got.data[i], 0) << "len " << int{c.len} << " byte " << i;
        }
    }
}

TEST_F(CanFdOnVcan, ExtendedIdentifierKeepsItsFlag) {
    const uint8_t data[8] = {0x12, 0x34, 0x56, 0x78, 5, 12, 2, 0};
    ASSERT_TRUE(peer_->send_fd(0x010 | CAN_EFF_FLAG, data, 8));
    COMMS_MSG_t got;
    ASSERT_EQ(canfd_.read(&got), 72);
    EXPECT_EQ(uint32_t{got.can_ID}, 0x010u | CAN_EFF_FLAG);
    EXPECT_NE(uint32_t{got.can_ID}, 0x010u);
    EXPECT_EQ(got.msg_len, CAN_8_BYTES);
}

TEST_F(CanFdOnVcan, WritesCanFdFramesWithBitRateSwitching) {
    struct Case {
        CAN_MSG_LEN_t code;
        uint8_t len;
    };
    for (const Case c : {Case{CAN_0_BYTES, 0}, Case{CAN_2_BYTES, 2}, Case{CAN_8_BYTES, 8},
                         Case{CAN_12_BYTES, 12}, Case{CAN_64_BYTES, 64}}) {
        const COMMS_MSG_t out = frame(0x390, c.code, 0x11);
        ASSERT_EQ(canfd_.write(out), c.len);
        canfd_frame f;
        ASSERT_EQ(peer_->receive(&f), 72) << "code " << int{c.code};
        EXPECT_EQ(f.can_id, 0x390u);
        EXPECT_EQ(f.len, c.len);
        EXPECT_EQ(f.flags & CANFD_BRS, CANFD_BRS);
        EXPECT_EQ(std::memcmp(f.data, out.data, c.len), 0);
        for (size_t i = c.len; i < sizeof(f.data); ++i) {
            ASSERT_EQ(f.data[i], 0) << "code " << int{c.code} << " byte " << i;
        }
    }
}

TEST_F(CanFdOnVcan, LengthCodeAboveFifteenSendsAnEmptyFrame) {
    for (const uint8_t code : {16, 255}) {
        const COMMS_MSG_t out = frame(0x420, static_cast<CAN_MSG_LEN_t>(code), 0x01);
        EXPECT_EQ(canfd_.write(out), 0);
        canfd_frame f;
        ASSERT_EQ(peer_->receive(&f), 72);
        EXPECT_EQ(f.can_id, 0x420u);
        EXPECT_EQ(f.len, 0);
        for (const uint8_t b : f.data) {
            ASSERT_EQ(b, 0);
        }
    }
}

TEST_F(CanFdOnVcan, RawFormSendsOneFrame) {
    const uint8_t raw[] = {0x90, 0x03, 0, 0, CAN_5_BYTES, 6, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(canfd_.write(raw, sizeof(raw)), 72);
    canfd_frame f;
    ASSERT_EQ(peer_->receive(&f), 72);
    EXPECT_EQ(f.can_id, 0x390u);
    EXPECT_EQ(f.len, 5);
    EXPECT_EQ(std::memcmp(f.data, raw + 5, 5), 0);
    // Shorter than its length code announces: nothing goes out.
    EXPECT_EQ(canfd_.write(raw, sizeof(raw) - 1), -1);
    EXPECT_EQ(canfd_.write(raw, 4), -1);
    EXPECT_EQ(peer_->receive(&f, 300), 0);
}

TEST_F(CanFdOnVcan, ReadTimesOutWithEagainAfterHalfASecond) {
    COMMS_MSG_t got;
    const auto start = kernel_test::Clock::now();
    errno = 0;
    EXPECT_EQ(canfd_.read(&got), -1);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
    const long waited = ms_since(start);
    EXPECT_GE(waited, 450);
    EXPECT_LT(waited, 5000);
    EXPECT_TRUE(canfd_.isConnected());
}

TEST_F(CanFdOnVcan, ReadWithoutWaitingTakesWhatIsQueuedAndNothingMore) {
    COMMS_MSG_t got;
    std::memset(&got, 0xAA, sizeof(got));
    const auto start = kernel_test::Clock::now();
    EXPECT_EQ(canfd_.read_nowait(&got), 0);
    EXPECT_LT(ms_since(start), 250) << "an empty socket is not waited on";
    EXPECT_EQ(uint32_t{got.can_ID}, 0xAAAAAAAAu) << "the frame is left alone";

    const uint8_t data[8] = {0x00, 0x90, 0x03, 0x01, 5, 6, 7, 8};
    ASSERT_TRUE(peer_->send_fd(0x0E0, data, 4));
    ASSERT_TRUE(peer_->send_classic(0x100, data, 8));
    // vcan hands frames on at once; the pause only lets the receive path run.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(canfd_.read_nowait(&got), 72);
    EXPECT_EQ(got.iface, CAN_FD);
    EXPECT_EQ(uint32_t{got.can_ID}, 0x0E0u);
    EXPECT_EQ(got.msg_len, CAN_4_BYTES);
    EXPECT_EQ(std::memcmp(got.data, data, 4), 0);
    EXPECT_EQ(got.data[4], 0);
    ASSERT_EQ(canfd_.read_nowait(&got), 16);
    EXPECT_EQ(uint32_t{got.can_ID}, 0x100u);
    EXPECT_EQ(got.msg_len, CAN_8_BYTES);
    EXPECT_EQ(canfd_.read_nowait(&got), 0);
    EXPECT_TRUE(canfd_.isConnected());
}

TEST_F(CanFdOnVcan, OwnFramesAreNotReadBack) {
    ASSERT_EQ(canfd_.write(frame(0x010, CAN_2_BYTES, 0xEF)), 2);
    COMMS_MSG_t got;
    errno = 0;
    EXPECT_EQ(canfd_.read(&got), -1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST_F(CanFdOnVcan, TapShowsTheExactFramesOnTheSocket) {
    std::vector<TappedFrame> tapped;
    const FrameTap tap = [&tapped](const TappedFrame& f) { tapped.push_back(f); };
    canfd_.setFrameTap(&tap);
    const int64_t before_us = frame_tap_time_us();
    canfd_frame f;

    const COMMS_MSG_t out = frame(0x390, CAN_12_BYTES, 0x11);
    ASSERT_EQ(canfd_.write(out), 12);
    ASSERT_EQ(peer_->receive(&f), 72);
    const uint8_t raw[] = {0x10, 0x00, 0x00, 0x00, CAN_2_BYTES, 0xEF, 0x15};
    ASSERT_EQ(canfd_.write(raw, sizeof(raw)), 72);
    ASSERT_EQ(peer_->receive(&f), 72);

    uint8_t data[64];
    for (int i = 0; i < 64; ++i) {
        data[i] = static_cast<uint8_t>(0x80 + i);
    }
    COMMS_MSG_t got{};
    ASSERT_TRUE(peer_->send_fd(0x00ABCDEF | CAN_EFF_FLAG, data, 48));
    ASSERT_EQ(canfd_.read(&got), 72);
    ASSERT_TRUE(peer_->send_classic(0x123, data, 8));
    ASSERT_EQ(canfd_.read(&got), 16);
    ASSERT_TRUE(peer_->send_classic(0x7FF | CAN_RTR_FLAG, data, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(canfd_.read_nowait(&got), 16);

    // Neither a time-out nor an empty socket is a frame.
    EXPECT_EQ(canfd_.read(&got), -1);
    EXPECT_EQ(canfd_.read_nowait(&got), 0);
    const int64_t after_us = frame_tap_time_us();

    struct Expected {
        bool sent;
        uint32_t can_id;
        bool fd;
        uint8_t len;
        const uint8_t* data;
    };
    const Expected expected[] = {
        {true, 0x390, true, 12, out.data},
        {true, 0x010, true, 2, raw + 5},
        {false, 0x00ABCDEF | CAN_EFF_FLAG, true, 48, data},
        {false, 0x123, false, 8, data},
        {false, 0x7FF | CAN_RTR_FLAG, false, 0, data},
    };
    ASSERT_EQ(tapped.size(), sizeof(expected) / sizeof(expected[0]));
    int64_t previous_us = before_us;
    for (size_t i = 0; i < tapped.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TappedFrame& t = tapped[i];
        const Expected& e = expected[i];
        EXPECT_EQ(t.sent, e.sent);
        EXPECT_EQ(t.iface, CAN_FD);
        EXPECT_EQ(t.can_id, e.can_id);
        EXPECT_EQ(t.fd, e.fd);
        EXPECT_EQ(t.len, e.len);
        EXPECT_EQ(std::memcmp(t.data, e.data, e.len), 0);
        for (size_t b = e.len; b < sizeof(t.data); ++b) {
            ASSERT_EQ(t.data[b], 0) << "byte " << b;
        }
        if (e.sent) {
            EXPECT_EQ(t.flags, CANFD_BRS) << "the frame as written";
        } else if (e.fd) {
            // Newer kernels also mark a received CAN FD frame with CANFD_FDF.
            EXPECT_EQ(t.flags & (CANFD_BRS | CANFD_ESI), CANFD_BRS);
        } else {
            EXPECT_EQ(t.flags, 0);
        }
        EXPECT_GE(t.time_us, previous_us);
        EXPECT_LE(t.time_us, after_us);
        previous_us = t.time_us;
    }
    // The classic frames as a trace writes them, after the time.
    for (const auto& [index, tail] :
         {std::pair<size_t, std::string>{3, ") can0 123#8081828384858687"},
          std::pair<size_t, std::string>{4, ") can0 7FF#R"}}) {
        const std::string line = candump_line(tapped[index], "can0");
        EXPECT_EQ(line.substr(line.find(')')), tail);
    }

    canfd_.setFrameTap(nullptr);
    ASSERT_EQ(canfd_.write(out), 12);
    ASSERT_EQ(peer_->receive(&f), 72);
    EXPECT_EQ(tapped.size(), sizeof(expected) / sizeof(expected[0]));
}

TEST(CanFdClosed, WriteAndReadFailWhileClosed) {
    CANFD canfd;
    COMMS_MSG_t m = frame(0x390, CAN_5_BYTES, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(canfd.write(m), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CANFD::write: Not connected or invalid socket\n");
    const uint8_t raw[] = {0x90, 0x03, 0, 0, 0};
    EXPECT_EQ(canfd.write(raw, sizeof(raw)), -1);
    EXPECT_EQ(canfd.read(&m), -1);
    EXPECT_EQ(canfd.read_nowait(&m), -1);
    EXPECT_FALSE(canfd.isConnected());
}

TEST(CanFdClosed, WriteFailsAfterDisconnect) {
    VcanInterface bus("can0");
    ASSERT_TRUE(bus.ok());
    CANFD canfd;
    ASSERT_TRUE(canfd.connect("can0"));
    canfd.disconnect();
    testing::internal::CaptureStderr();
    EXPECT_EQ(canfd.write(frame(0x390, CAN_5_BYTES, 0)), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CANFD::write: Not connected or invalid socket\n");
}

TEST(CanFdConnect, AbsentInterfaceFailsAndLeavesNoSocketOpen) {
    kernel_test::remove_interface("efisabsent0");
    CANFD canfd;
    const int open_before = kernel_test::open_fd_count();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(canfd.connect("efisabsent0"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Interface efisabsent0 does not exist or is not available: " +
                       std::string(std::strerror(ENODEV)) + "\n");
    EXPECT_EQ(kernel_test::open_fd_count(), open_before);
    EXPECT_FALSE(canfd.isConnected());
}

TEST(CanFdConnect, FailedReconnectClosesTheOldSocket) {
    VcanInterface bus("can0");
    ASSERT_TRUE(bus.ok());
    CANFD canfd;
    const int open_before = kernel_test::open_fd_count();
    ASSERT_TRUE(canfd.connect("can0"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(canfd.connect("efisabsent0"));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(canfd.isConnected());
    EXPECT_EQ(kernel_test::open_fd_count(), open_before);
}

TEST(CanFdConnect, LongNameIsLookedUpByItsFirstFifteenCharacters) {
    const std::string first15 = "efiscanlongname";
    ASSERT_EQ(first15.size(), 15u);
    VcanInterface bus(first15);
    ASSERT_TRUE(bus.ok());
    BusPeer peer(first15);
    ASSERT_TRUE(peer.ok());
    CANFD canfd;
    ASSERT_TRUE(canfd.connect(first15 + "-and-more"));
    ASSERT_EQ(canfd.write(frame(0x010, CAN_2_BYTES, 0xEF)), 2);
    canfd_frame f;
    ASSERT_EQ(peer.receive(&f), 72);
    EXPECT_EQ(f.can_id, 0x010u);
}

TEST(CanFdConnect, FailedLookupOfALongNameShowsTheFullName) {
    const std::string name = "efisnosuchiface-with-a-long-tail";
    kernel_test::remove_interface(name.substr(0, 15));
    CANFD canfd;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(canfd.connect(name));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Interface " + name + " does not exist or is not available: " +
                  std::string(std::strerror(ENODEV)) + "\n");
}

TEST(CanFdConnect, InterfaceThatIsDownStillBinds) {
    // Binding does not need the link up; sending on it fails and says so.
    kernel_test::remove_interface("efisdown0");
    ASSERT_TRUE(kernel_test::run("ip link add dev efisdown0 type vcan"));
    ASSERT_TRUE(kernel_test::run("ip link set efisdown0 mtu 72"));
    CANFD canfd;
    ASSERT_TRUE(canfd.connect("efisdown0"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(canfd.write(frame(0x390, CAN_5_BYTES, 0)), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("CANFD::write: Write failed: ", 0), 0u) << err;
    canfd.disconnect();
    kernel_test::remove_interface("efisdown0");
}

TEST(CanFdConnect, ClassicCanInterfaceRejectsCanFdFrames) {
    // A bus set to MTU 16 (not in CAN FD mode): the kernel refuses the CAN FD frame.
    kernel_test::remove_interface("efisclassic0");
    ASSERT_TRUE(kernel_test::run("ip link add dev efisclassic0 type vcan"));
    ASSERT_TRUE(kernel_test::run("ip link set efisclassic0 mtu 16"));
    ASSERT_TRUE(kernel_test::run("ip link set up efisclassic0"));
    CANFD canfd;
    ASSERT_TRUE(canfd.connect("efisclassic0"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(canfd.write(frame(0x390, CAN_5_BYTES, 0)), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "CANFD::write: Write failed: " + std::string(std::strerror(EINVAL)) + "\n");
    canfd.disconnect();
    kernel_test::remove_interface("efisclassic0");
}

// Sets or clears IFF_UP the way a network manager does, without ip(8).
bool set_link_up(const std::string& name, bool up) {
    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::strncpy(ifr.ifr_name, name.c_str(), sizeof(ifr.ifr_name) - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags =
            static_cast<short>(up ? (ifr.ifr_flags | IFF_UP) : (ifr.ifr_flags & ~IFF_UP));
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(fd);
    return ok;
}

enum class Happening { Nothing, Down, Removed };
enum class Op { Write, Read, ReadWithoutWaiting };

struct LossCase {
    const char* name;
    unsigned mtu;
    Happening happening;
    Op op;
    std::set<int> errnos;  // what the failed call may leave in errno
    bool lost;
};

class CanFdLinkLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(CanFdLinkLoss, OnlyAnInterfaceThatWentAwayCounts) {
    const LossCase& c = GetParam();
    const std::string name = "efislost0";
    kernel_test::remove_interface(name);
    ASSERT_TRUE(kernel_test::run("ip link add dev " + name + " type vcan"));
    ASSERT_TRUE(kernel_test::run("ip link set " + name + " mtu " + std::to_string(c.mtu)));
    ASSERT_TRUE(kernel_test::run("ip link set up " + name));
    CANFD canfd;
    ASSERT_TRUE(canfd.connect(name));
    EXPECT_FALSE(canfd.linkLost());
    if (c.happening == Happening::Down) {
        ASSERT_TRUE(set_link_up(name, false));
    } else if (c.happening == Happening::Removed) {
        kernel_test::remove_interface(name);
    }
    testing::internal::CaptureStderr();
    COMMS_MSG_t m = frame(0x390, CAN_5_BYTES, 0);
    errno = 0;
    int result = 0;
    switch (c.op) {
    case Op::Write:
        result = canfd.write(m);
        break;
    case Op::Read:
        result = canfd.read(&m);
        break;
    case Op::ReadWithoutWaiting:
        result = canfd.read_nowait(&m);
        break;
    }
    const int err = errno;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(c.errnos.count(err), 1u) << std::strerror(err);
    EXPECT_EQ(canfd.linkLost(), c.lost);
    EXPECT_TRUE(canfd.isConnected()) << "a failure leaves the socket open";
    canfd.disconnect();
    EXPECT_FALSE(canfd.linkLost());
    kernel_test::remove_interface(name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CanFdLinkLoss,
    ::testing::Values(
        LossCase{"DownThenWrite", 72, Happening::Down, Op::Write, {ENETDOWN}, true},
        LossCase{"DownThenRead", 72, Happening::Down, Op::Read, {ENETDOWN}, true},
        LossCase{"DownThenReadWithoutWaiting",
                 72,
                 Happening::Down,
                 Op::ReadWithoutWaiting,
                 {ENETDOWN},
                 true},
        LossCase{"RemovedThenWrite", 72, Happening::Removed, Op::Write, {ENODEV, ENXIO}, true},
        LossCase{"RemovedThenRead", 72, Happening::Removed, Op::Read, {ENODEV}, true},
        LossCase{"QuietBus", 72, Happening::Nothing, Op::Read, {EAGAIN, EWOULDBLOCK}, false},
        LossCase{"ClassicBusRefusesTheFrame", 16, Happening::Nothing, Op::Write, {EINVAL}, false}),
    [](const ::testing::TestParamInfo<LossCase>& info) { return std::string(info.param.name); });

const CanInterface* find(const std::vector<CanInterface>& list, const std::string& name) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&name](const CanInterface& i) { return i.name == name; });
    return it == list.end() ? nullptr : &*it;
}

TEST(CanInterfaceList, ReadsTheKernelsOwnSysfs) {
    VcanInterface fd_bus("efislist0");
    ASSERT_TRUE(fd_bus.ok());
    kernel_test::remove_interface("efislist1");
    ASSERT_TRUE(kernel_test::run("ip link add dev efislist1 type vcan"));
    ASSERT_TRUE(kernel_test::run("ip link set efislist1 mtu 16"));

    const std::vector<CanInterface> list = list_can_interfaces();
    const CanInterface* fd = find(list, "efislist0");
    const CanInterface* classic = find(list, "efislist1");
    ASSERT_NE(fd, nullptr);
    ASSERT_NE(classic, nullptr);
    EXPECT_TRUE(fd->fd_capable);
    EXPECT_TRUE(fd->up);
    EXPECT_TRUE(fd->is_virtual);
    EXPECT_FALSE(classic->fd_capable);
    EXPECT_FALSE(classic->up);
    EXPECT_TRUE(classic->is_virtual);
    EXPECT_EQ(find(list, "lo"), nullptr) << "not a CAN interface";
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const auto& a, const auto& b) { return a.name < b.name; }));

    ASSERT_TRUE(set_link_up("efislist0", false));
    CanInterface state;
    ASSERT_TRUE(can_interface_state("efislist0", &state));
    EXPECT_FALSE(state.up);
    EXPECT_FALSE(can_interface_state("lo", &state));

    // The command offered for a virtual interface does what it says (run here as root).
    ASSERT_TRUE(can_interface_state("efislist1", &state));
    const std::string command = can_fd_up_command(state);
    ASSERT_EQ(command, "sudo ip link set efislist1 mtu 72 up");
    ASSERT_TRUE(kernel_test::run(command.substr(std::string("sudo ").size())));
    ASSERT_TRUE(can_interface_state("efislist1", &state));
    EXPECT_TRUE(state.fd_capable);
    EXPECT_TRUE(state.up);
    kernel_test::remove_interface("efislist1");
    EXPECT_FALSE(can_interface_state("efislist1", &state));
}

TEST(DeviceEventsOnKernel, AddedAndRemovedCanInterfaceIsSignalled) {
    static int argc = 1;
    static char arg0[] = "kernel_canfd_test";
    static char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    kernel_test::remove_interface("efisevt0");
    DeviceEvents events;
    ASSERT_TRUE(events.available()) << "no udev monitor";
    std::vector<std::string> seen;
    QEventLoop loop;
    QObject::connect(&events, &DeviceEvents::changed,
                     [&](const QString& subsystem, const QString& action, const QString& name) {
                         seen.push_back((subsystem + " " + action + " " + name).toStdString());
                         if (name == "efisevt0" && action == "remove") {
                             loop.quit();
                         }
                     });
    ASSERT_TRUE(kernel_test::run("ip link add dev efisevt0 type vcan"));
    ASSERT_TRUE(kernel_test::run("ip link del dev efisevt0"));
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    const auto start = kernel_test::Clock::now();
    loop.exec();
    const auto add = std::find(seen.begin(), seen.end(), "net add efisevt0");
    const auto remove = std::find(seen.begin(), seen.end(), "net remove efisevt0");
    ASSERT_NE(add, seen.end());
    ASSERT_NE(remove, seen.end());
    EXPECT_LT(add, remove);
    EXPECT_LT(ms_since(start), 5000);
    for (const std::string& e : seen) {
        EXPECT_TRUE(e.rfind("net ", 0) == 0 || e.rfind("hidraw ", 0) == 0) << e;
    }
}

}  // namespace
