// Firmware image and airport database uploads over the kernel's links, landing byte for byte
// in the emulated unit's flash: CAN FD on vcan "can0" and USB HID through uhid.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comms/comms.h"
#include "emulator/efis_unit.h"
#include "emulator/frontends/socketcan_frontend.h"
#include "emulator/frontends/uhid_frontend.h"
#include "firmware_ops/firmware_ops.h"
#include "tests/kernel/kernel_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (uint8_t& v : b) {
        v = static_cast<uint8_t>(gen());
    }
    return b;
}

// An image file: the 64-byte header, then `data_size` bytes of image data.
Bytes firmware_image(uint32_t data_size, uint32_t seed) {
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = 0x45464953;
    h.version = 0x00020E00;
    h.total_size = static_cast<uint32_t>(sizeof(h)) + data_size;
    h.plaintext_size = data_size;
    h.encrypted_size = data_size;
    Bytes file(sizeof(h));
    std::memcpy(file.data(), &h, sizeof(h));
    const Bytes data = random_bytes(data_size, seed);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::string write_temp_file(const Bytes& bytes) {
    char path[] = "/tmp/efis-upload-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return path;
}

enum class Link { CanFd, UsbHid };

struct Case {
    const char* name;
    Link link;
    emu::Generation generation;
    uint32_t partition;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Upload : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        unit_.set_generation(c.generation);
        unit_.set_partition_answer(c.partition);
        std::string error;
        if (c.link == Link::CanFd) {
            bus_ = std::make_unique<kernel_test::VcanInterface>("can0");
            ASSERT_TRUE(bus_->ok());
            can_ = std::make_unique<emu::SocketCanFrontend>(unit_);
            ASSERT_TRUE(can_->open("can0", &error)) << error;
            can_->start();
        } else {
            kernel_test::remove_interface("can0");
            hid_ = std::make_unique<emu::UhidFrontend>(unit_);
            ASSERT_TRUE(hid_->open(&error)) << error;
            hid_->start();
            ASSERT_TRUE(kernel_test::wait_for_hid_interfaces(vendor_id, product_id,
                                                             emu::kUnitUsagePage, 1));
        }
        testing::internal::CaptureStdout();
        const bool connected = comms_.establish_connection();
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(connected) << out;
        ASSERT_EQ(comms_.getActiveInterface(), c.link == Link::CanFd ? CAN_FD : USB_HID);
    }
    void TearDown() override {
        for (const std::string& p : files_) {
            unlink(p.c_str());
        }
    }

    std::string file(const Bytes& bytes) {
        files_.push_back(write_temp_file(bytes));
        return files_.back();
    }

    emu::EfisUnit unit_;
    std::unique_ptr<kernel_test::VcanInterface> bus_;
    std::unique_ptr<emu::SocketCanFrontend> can_;
    std::unique_ptr<emu::UhidFrontend> hid_;
    CommsManager comms_;
    std::vector<std::string> files_;
};

TEST_P(Upload, FirmwareImageLandsInTheNamedBank) {
    const Bytes image = firmware_image(3000, 7);
    const std::string path = file(image);
    testing::internal::CaptureStdout();
    const upload_result_t result = send_fw(&comms_, path.c_str(), nullptr, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, UPLOAD_OK) << upload_result_text(result) << "\n" << out;
    const uint32_t bank_block =
        GetParam().partition == partition_1 ? FW_BANK1_START_BLOCK : FW_BANK2_START_BLOCK;
    const uint32_t bank = bank_block * MX25_BLOCK_SIZE;
    EXPECT_EQ(unit_.flash_read(bank, static_cast<uint32_t>(image.size())), image);
    EXPECT_EQ(unit_.erased_blocks(), std::vector<uint32_t>{bank_block});
}

TEST_P(Upload, AirportDatabaseLandsAtTheStartOfFlash) {
    const Bytes db = random_bytes(5000, 11);
    const std::string path = file(db);
    testing::internal::CaptureStdout();
    const upload_result_t result = send_airport_db(&comms_, path.c_str(), nullptr, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, UPLOAD_OK) << upload_result_text(result) << "\n" << out;
    EXPECT_EQ(unit_.flash_read(0, static_cast<uint32_t>(db.size())), db);
    EXPECT_EQ(unit_.erased_blocks(), std::vector<uint32_t>{0});
    // The open command has no answer: the unit may take it a moment after send_airport_db ends.
    const auto start = kernel_test::Clock::now();
    while (!unit_.airport_db_open() && kernel_test::ms_since(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(unit_.airport_db_open());
}

INSTANTIATE_TEST_SUITE_P(
    Links, Upload,
    ::testing::Values(Case{"CanFdCurrent", Link::CanFd, emu::Generation::Current, partition_1},
                      Case{"CanFdLegacy", Link::CanFd, emu::Generation::Legacy, partition_2},
                      Case{"UsbHidCurrent", Link::UsbHid, emu::Generation::Current, partition_2},
                      Case{"UsbHidLegacy", Link::UsbHid, emu::Generation::Legacy, partition_1}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
