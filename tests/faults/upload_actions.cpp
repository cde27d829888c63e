// The two uploads through firmware_ops, as the window's worker runs them.
#include <cstdio>

#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "tests/faults/matrix_actions.h"

namespace fault_matrix {

namespace {

class FirmwareUpload : public Action {
public:
    void prepare() override {
        comms = connect_usb();
        image = small_firmware_image();
        path = temp_path("firmware.bin");
        write_bytes(path, image);
    }
    Outcome run() override {
        const upload_result_t r = send_fw(comms.get(), path.c_str(), nullptr, nullptr);
        std::remove(path.c_str());
        const std::vector<uint8_t> flash = emu_hid::unit().flash_read(
            firmware_bank_address(), static_cast<uint32_t>(image.size()));
        if (r == UPLOAD_OK) {
            EXPECT_EQ(flash, image) << "reported complete, the bank does not hold the image";
        }
        return {r == UPLOAD_OK, upload_result_text(r)};
    }

private:
    std::unique_ptr<CommsManager> comms;
    std::vector<uint8_t> image;
    std::string path;
};

class AirportUpload : public Action {
public:
    void prepare() override {
        comms = connect_usb();
        db = small_airport_db();
        path = temp_path("airports.db");
        write_bytes(path, db);
    }
    Outcome run() override {
        const upload_result_t r = send_airport_db(comms.get(), path.c_str(), nullptr, nullptr);
        std::remove(path.c_str());
        const emu::EfisUnit& unit = emu_hid::unit();
        const bool whole = unit.flash_read(0, static_cast<uint32_t>(db.size())) == db;
        if (r == UPLOAD_OK) {
            EXPECT_TRUE(whole) << "reported complete, the flash does not hold the database";
            EXPECT_TRUE(unit.airport_db_open()) << "reported complete, the database is closed";
        } else if (r == UPLOAD_DB_OPEN_FAILED) {
            EXPECT_TRUE(whole) << "reported written, the flash does not hold the database";
        } else {
            // The unit must never be told to open a database whose writing failed.
            EXPECT_FALSE(unit.airport_db_open() && !unit.erased_blocks().empty())
                << "the database was reopened after a failed transfer";
        }
        return {r == UPLOAD_OK, upload_result_text(r)};
    }

private:
    std::unique_ptr<CommsManager> comms;
    std::vector<uint8_t> db;
    std::string path;
};

template <typename T>
std::unique_ptr<Action> make() {
    return std::make_unique<T>();
}

}  // namespace

std::vector<ActionDef> upload_actions() {
    return {
        {"FirmwareUpload",
         make<FirmwareUpload>,
         {Request::Partition, Request::Erase, Request::SetAddress, Request::Write}},
        {"AirportUpload", make<AirportUpload>, {Request::AirportClose}},
    };
}

}  // namespace fault_matrix
