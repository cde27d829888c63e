// The user actions the fault matrix runs. Each prepares itself without a fault, then runs
// once with the cell's fault armed and checks what it left on the emulated unit against
// what it reported.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EFIS_shared/settings_types.h"
#include "comms/comms.h"
#include "emulator/efis_unit.h"
#include "tests/faults/fault_matrix.h"

namespace fault_matrix {

struct Outcome {
    bool claimed_success = false;  // the tool reported the whole job done, without a warning
    std::string said;              // its result in words, for the log
};

class Action {
public:
    virtual ~Action() = default;
    // The link, files and records the action starts from; no fault is armed yet.
    virtual void prepare() = 0;
    // The action itself, followed by its checks (EXPECT_*).
    virtual Outcome run() = 0;
};

struct ActionDef {
    const char* name;
    std::unique_ptr<Action> (*make)();
    // The requests whose costly faults (read time-outs) this action's cells carry.
    std::vector<Request> carried;
    bool identification_step = false;  // the unit's identification is one of its steps
};

std::vector<ActionDef> settings_actions();
std::vector<ActionDef> upload_actions();
std::vector<ActionDef> cli_actions();

// Helpers shared by the actions.

// The manager with its USB link open on the emulated unit, identified as the window does.
std::unique_ptr<CommsManager> connect_usb();

uint32_t word(const Settings_t& record, int index);
// Every word of the record: header words and the data elements.
bool same_record(const Settings_t& a, const Settings_t& b);
// The unit's stored CRC is the one of its record.
bool crc_checks(const Settings_t& record);

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string temp_path(const std::string& name);

// A firmware image whose header asks for two erased blocks and whose data takes a few
// packets, the last one short.
std::vector<uint8_t> small_firmware_image();
// An airport database of a few packets, the last one short.
std::vector<uint8_t> small_airport_db();
uint32_t firmware_bank_address();

// Three settings edited, five elements (the registration has three words).
const std::vector<settings_struct_index>& edited_elements();
Settings_t with_edits(const Settings_t& record);

}  // namespace fault_matrix
