// Emulated EFIS unit: takes the frames the unit receives and produces the frames it
// answers with, as the unit's firmware of either generation would. Plain C++ without Qt;
// it uses only the definitions shared with the firmware, never the tool's own code.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "EFIS_shared/calib_types.h"
#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"

namespace emu {

enum class Generation { Current, Legacy };

// Which answer of a request a fault acts on (erase, store and partition query have two).
enum class AnswerKind { CommandAck, FlashAck, Reply };

// A fault for one request identifier (as the unit's generation numbers it).
struct Fault {
    AnswerKind answer = AnswerKind::CommandAck;
    bool no_answer = false;          // stay silent
    bool refuse = false;             // status 0 / legacy flash NACK frame
    bool ack_other_command = false;  // command ACK names another identifier
    bool wrong_length = false;       // answer with another length code
    bool wrong_status = false;       // status byte 2
    bool wrong_op_code = false;      // flash ACK echoes another op code
    bool wrong_address = false;      // flash ACK echoes another address
    uint32_t delay_ms = 0;           // the answer is due this long after the request
    uint32_t unrelated_before = 0;   // unrelated frames sent before the answer
    uint32_t skip_first = 0;         // matching requests answered normally before it fires
    int32_t times = -1;              // how often it fires once armed; -1 = always
};

// One frame the unit sends, due `delay_ms` after the request that caused it.
struct Answer {
    COMMS_MSG_t frame;
    uint32_t delay_ms;
};

class EfisUnit {
public:
    // A current unit at firmware 0.2.12 with realistic settings and a valid CRC.
    EfisUnit();

    // Identity and generation.
    void set_generation(Generation g);  // also sets the version (0.2.12 or 0.1.0)
    Generation generation() const;
    void set_serial(uint32_t serial);
    void set_version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc);
    // A unit whose version is below 0.2.12 that still answers the current request.
    void set_answers_current_whoami(bool on);

    // The unit's behaviour.
    void set_check_store_crc(bool on);          // refuse a store whose CRC mismatches; default on
    void set_refuse_unerased_writes(bool on);   // NACK a write into unerased bytes; default on
    void set_partition_answer(uint32_t value);  // default partition_1
    void set_fault(uint32_t request_id, const Fault& fault);
    void clear_faults();

    // Takes one received frame; returns the frames the unit answers with, in order.
    std::vector<Answer> handle(const COMMS_MSG_t& in);

    // Inspection.
    std::vector<COMMS_MSG_t> received() const;  // every frame received, in order
    void clear_received();
    Settings_t settings() const;
    void set_settings(const Settings_t& s);  // stored as given (no CRC refresh)
    SENSOR_CALIB_t calibration() const;
    void set_calibration(const SENSOR_CALIB_t& c);
    uint32_t store_count() const;   // accepted settings stores
    uint32_t reboot_count() const;  // enter-boot-loader frames seen
    bool airport_db_open() const;   // open at start
    uint32_t write_address() const;
    std::vector<uint8_t> flash_read(uint32_t address, uint32_t length) const;  // 0xFF if erased
    void flash_fill(uint32_t address, const std::vector<uint8_t>& bytes);      // raw, for tests
    std::vector<uint32_t> erased_blocks() const;  // block numbers erased, in order

    // The identifiers of the unit's own generation.
    uint32_t id_ack() const;
    uint32_t id_mx25_ack() const;

private:
    mutable std::mutex mutex_;
    // (fields are the implementation's)
};

}  // namespace emu
