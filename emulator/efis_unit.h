// Emulated EFIS unit: takes the frames the unit receives and produces the frames it
// answers with, as the unit's firmware of either generation would. Plain C++ without Qt;
// it uses only the definitions shared with the firmware, never the tool's own code.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "EFIS_shared/calib_types.h"
#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"
#include "emulator/nor_flash.h"
#include "emulator/unit_ids.h"

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
    bool wrong_id = false;           // the answer travels on another answer's identifier
    uint32_t delay_ms = 0;           // the answer is due this long after the request
    uint32_t unrelated_before = 0;   // unrelated frames sent before the answer
    uint32_t repeat = 0;             // the answer is sent this many extra times
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
    // Back to the state of a newly constructed unit (faults and records included).
    void reset();

    // Identity and generation.
    void set_generation(Generation g);  // also sets the version (0.2.12 or 0.1.0)
    Generation generation() const;
    void set_serial(uint32_t serial);
    void set_version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc);
    fwversion_t version() const;
    // A unit whose version is below 0.2.12 that still answers the current request.
    void set_answers_current_whoami(bool on);

    // The unit's behaviour.
    void set_check_store_crc(bool on);          // refuse a store whose CRC mismatches; default on
    void set_refuse_unerased_writes(bool on);   // NACK a write into unerased bytes; default on
    void set_partition_answer(uint32_t value);  // default partition_1
    // The flash keeps only where bytes were programmed and their CRCs (see NorFlash), so that
    // large uploads cost no memory; default off. Either way the flash is left erased.
    void set_flash_checking(bool on);
    // How long the unit is gone after an enter-boot-loader frame; default 2000 ms.
    void set_reboot_ms(uint32_t ms);
    uint32_t reboot_ms() const;
    // True once for each enter-boot-loader frame taken since the last call: the front end
    // that handed the unit the frame then takes the unit off its link for reboot_ms().
    //
    // The unit restarts as it takes the frame. Flash, settings (the unit keeps one record,
    // changed values and stored ones alike) and identity survive; the write address and the
    // airport database state start afresh. If a firmware image was written since the last
    // start into the bank the partition query names, header and data through the header's
    // encrypted_size, the unit now runs it: it reports the header's version when that is a
    // plausible version above its own, else its own with the patch number one up. A unit that
    // answers only the legacy identification reports no version and keeps its own.
    bool take_reboot();
    // One fault per request identifier and answer kind; a later one for the same pair replaces it.
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
    std::vector<uint32_t> erased_blocks() const;    // block numbers erased, in order
    std::vector<ProgrammedRun> flash_runs() const;  // checking mode only

    // The identifiers of the unit's own generation.
    uint32_t id_ack() const;
    uint32_t id_mx25_ack() const;

private:
    class Answers;
    struct FaultState {
        Fault fault;
        uint32_t seen = 0;  // matching requests so far
        int32_t fired = 0;  // requests it acted on
    };

    void reset_locked();
    void restart_locked();
    // The start address of the bank the partition query names, false for no bank.
    bool named_bank(uint32_t* start) const;
    // The header of a complete image at `start`, false when there is none.
    bool complete_image(uint32_t start, firmware_header_t* header) const;
    bool legacy_map() const;
    const UnitIds& ids() const;
    std::map<AnswerKind, Fault> arm_faults(uint32_t request_id);

    void on_whoami_current(const COMMS_MSG_t& in, Answers& out) const;
    void on_whoami_legacy(const COMMS_MSG_t& in, Answers& out) const;
    void on_read_setting(const COMMS_MSG_t& in, Answers& out);
    void on_set_setting(const COMMS_MSG_t& in, Answers& out);
    void on_store_settings(const COMMS_MSG_t& in, Answers& out);
    void on_read_calib(const COMMS_MSG_t& in, Answers& out);
    void on_set_calib(const COMMS_MSG_t& in, Answers& out);
    void on_store_calib(const COMMS_MSG_t& in, Answers& out);
    void on_enter_bl(const COMMS_MSG_t& in);
    void on_erase(const COMMS_MSG_t& in, Answers& out);
    void on_set_address(const COMMS_MSG_t& in, Answers& out);
    void on_write(const COMMS_MSG_t& in, Answers& out);
    void on_get_partition(const COMMS_MSG_t& in, Answers& out);
    void on_airport_db_op(const COMMS_MSG_t& in, Answers& out);

    mutable std::mutex mutex_;
    uint32_t serial_ = 0;
    fwversion_t version_{};
    bool answers_current_whoami_ = false;
    bool check_store_crc_ = true;
    bool refuse_unerased_writes_ = true;
    uint32_t partition_ = 0;
    std::map<std::pair<uint32_t, AnswerKind>, FaultState> faults_;
    std::vector<COMMS_MSG_t> received_;
    Settings_t settings_{};
    SENSOR_CALIB_t calibration_{};
    uint32_t store_count_ = 0;
    uint32_t reboot_count_ = 0;
    uint32_t reboot_ms_ = 0;
    uint32_t reboots_untaken_ = 0;
    bool bank_written_ = false;  // a firmware bank was written since the last start
    bool airport_db_open_ = true;
    uint32_t write_address_ = 0;
    NorFlash flash_;
    std::vector<uint32_t> erased_blocks_;
};

}  // namespace emu
