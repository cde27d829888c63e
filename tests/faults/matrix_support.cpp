// Helpers shared by the fault matrix's actions.
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/get_set.h"
#include "EFIS_shared/mem_layout.h"
#include "tests/faults/matrix_actions.h"

namespace fault_matrix {

std::unique_ptr<CommsManager> connect_usb() {
    auto comms = std::make_unique<CommsManager>();
    LinkChoice usb_only;
    usb_only.can = false;
    EXPECT_TRUE(comms->establish_connection(usb_only));
    return comms;
}

uint32_t word(const Settings_t& record, int index) {
    Settings_t copy = record;
    return settings_get_value(&copy, static_cast<settings_struct_index>(index));
}

bool same_record(const Settings_t& a, const Settings_t& b) {
    if (a.crc32 != b.crc32 || a.magic != b.magic || a.version != b.version ||
        a.num_elements != b.num_elements) {
        return false;
    }
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        if (word(a, i) != word(b, i)) {
            return false;
        }
    }
    return true;
}

bool crc_checks(const Settings_t& record) {
    Settings_t copy = record;
    copy.crc32 = 0;
    return settings_CalcCRC(&copy) == record.crc32;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string temp_path(const std::string& name) {
    return testing::TempDir() + "fault_matrix_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> small_firmware_image() {
    constexpr uint32_t kData = 3 * 64 + 10;
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = 0x45464953;
    h.total_size = MX25_BLOCK_SIZE + 1;  // two blocks to erase
    h.plaintext_size = kData;
    h.encrypted_size = kData;
    h.offset = sizeof(h);
    std::vector<uint8_t> image(sizeof(h));
    std::memcpy(image.data(), &h, sizeof(h));
    for (uint32_t i = 0; i < kData; ++i) {
        image.push_back(static_cast<uint8_t>(i * 29 + 7));
    }
    return image;
}

std::vector<uint8_t> small_airport_db() {
    std::vector<uint8_t> db(4 * 64 + 6);
    for (size_t i = 0; i < db.size(); ++i) {
        db[i] = static_cast<uint8_t>(i * 11 + 3);
    }
    return db;
}

uint32_t firmware_bank_address() {
    return FW_BANK1_START_BLOCK * MX25_BLOCK_SIZE;
}

const std::vector<settings_struct_index>& edited_elements() {
    static const std::vector<settings_struct_index> elements = {
        VNE_INDEX, REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX,
        GREEN_ARC_COLOR_INDEX};
    return elements;
}

Settings_t with_edits(const Settings_t& record) {
    Settings_t s = record;
    s.vspeeds.Vne = 199;
    std::memset(s.registration, 0, sizeof(s.registration));
    std::memcpy(s.registration, "ZKXYZ", 5);
    s.green_arc_color = 0xFF12AB34;
    return s;
}

}  // namespace fault_matrix
