#include "emulator/efis_unit.h"

#include <cstring>

#include "EFIS_shared/can_export.h"
#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "emulator/default_records.h"

namespace emu {

namespace {

constexpr uint8_t kWhoamiMarker0 = 0xEF;
constexpr uint8_t kWhoamiMarker1 = 0x15;
constexpr uint8_t kEnterBootLoader = 0x48;
constexpr uint8_t kAirportDbClose = 0xDC;
constexpr uint8_t kAirportDbOpen = 0xDA;
constexpr uint8_t kBadStatus = 2;
constexpr uint32_t kDefaultSerial = 0x00C0FFEE;
constexpr uint32_t kSectorsPerBlock = MX25_BLOCK_SIZE / MX25_SECTOR_SIZE;
constexpr uint32_t kNumSectors = NorFlash::kSize / MX25_SECTOR_SIZE;
// Address the unit reports for the erase of its internal settings sector; it lies outside
// the external flash, whose content a settings store leaves alone.
constexpr uint32_t kSettingsSectorAddress = 0x080E0000;
constexpr uint32_t kDefaultRebootMs = 2000;
constexpr uint32_t kBank1Start = FW_BANK1_START_BLOCK * MX25_BLOCK_SIZE;
constexpr uint32_t kBank2Start = FW_BANK2_START_BLOCK * MX25_BLOCK_SIZE;
constexpr uint32_t kBankSize = FW_BANK_NUM_BLOCKS * MX25_BLOCK_SIZE;
constexpr uint32_t kHeaderSize = sizeof(firmware_header_t);
// A header's version word names a version only when each part stays below 100: an erased
// word (all ones) or a random one does not.
constexpr uint8_t kMaxVersionPart = 99;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

fwversion_t make_version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc) {
    fwversion_t v{};
    v.fields.major = major;
    v.fields.minor = minor;
    v.fields.patch = patch;
    v.fields.rc = rc;
    return v;
}

uint32_t version_number(const fwversion_t& v) {
    return static_cast<uint32_t>(v.fields.major) << 24 |
           static_cast<uint32_t>(v.fields.minor) << 16 |
           static_cast<uint32_t>(v.fields.patch) << 8 | v.fields.rc;
}

fwversion_t version_from_word(uint32_t word) {
    return make_version(static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                        static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word));
}

// The version a newly installed image runs as.
fwversion_t installed_version(const fwversion_t& running, uint32_t header_version) {
    const fwversion_t h = version_from_word(header_version);
    const bool plausible = h.fields.major <= kMaxVersionPart && h.fields.minor <= kMaxVersionPart &&
                           h.fields.patch <= kMaxVersionPart;
    if (plausible && version_number(h) > version_number(running)) {
        return h;
    }
    fwversion_t next = running;
    if (next.fields.patch == 0xFF) {
        next.fields.patch = 0;
        ++next.fields.minor;
    } else {
        ++next.fields.patch;
    }
    return next;
}

bool settings_index_known(uint8_t index) {
    Settings_t scratch;
    std::memset(&scratch, 0, sizeof(scratch));
    uint32_t value = 0;
    return settings_set_value(&scratch, static_cast<settings_struct_index>(index), &value);
}

bool calib_index_known(uint8_t index) {
    SENSOR_CALIB_t scratch;
    std::memset(&scratch, 0, sizeof(scratch));
    uint32_t value = 0;
    return calib_set_value(&scratch, static_cast<sensor_calib_struct_index>(index), &value);
}

COMMS_MSG_t blank_frame(COMM_INTERFACE_t iface, uint32_t id, CAN_MSG_LEN_t len) {
    COMMS_MSG_t f;
    std::memset(&f, 0, sizeof(f));
    f.iface = iface;
    f.can_ID = id;
    f.msg_len = len;
    return f;
}

}  // namespace

// Collects the frames of one answer and applies the faults armed for this request.
class EfisUnit::Answers {
public:
    Answers(const UnitIds& ids, bool legacy, COMM_INTERFACE_t iface,
            std::map<AnswerKind, Fault> armed)
        : ids_(ids), legacy_(legacy), iface_(iface), armed_(std::move(armed)) {}

    // A fault makes the unit decline the command: it then changes nothing.
    bool refused(AnswerKind kind) const {
        const auto it = armed_.find(kind);
        return it != armed_.end() && it->second.refuse;
    }

    void command_ack(uint32_t request_id, bool ok) {
        const Fault* f = fault(AnswerKind::CommandAck);
        ok = ok && !(f != nullptr && f->refuse);
        if (f != nullptr && f->ack_other_command) {
            request_id = request_id == ids_.set_user_setting ? ids_.save_user_settings
                                                             : ids_.set_user_setting;
        }
        COMMS_MSG_t frame;
        if (legacy_) {
            frame = blank_frame(iface_, ok ? ids_.ack : ids_.nack, CAN_6_BYTES);
            put_le32(frame.data, request_id);
            frame.data[4] = kWhoamiMarker0;
            frame.data[5] = kWhoamiMarker1;
            if (f != nullptr && f->wrong_status) {
                frame.data[5] = kBadStatus;  // the legacy format has only its marker to spoil
            }
        } else {
            frame = blank_frame(iface_, ids_.ack, CAN_4_BYTES);
            frame.data[1] = static_cast<uint8_t>(request_id);
            frame.data[2] = static_cast<uint8_t>(request_id >> 8);
            frame.data[3] = ok ? ACK : NACK;
            if (f != nullptr && f->wrong_status) {
                frame.data[3] = kBadStatus;
            }
        }
        add(AnswerKind::CommandAck, frame);
    }

    void flash_ack(uint8_t op, uint32_t address, bool ok) {
        const Fault* f = fault(AnswerKind::FlashAck);
        ok = ok && !(f != nullptr && f->refuse);
        if (f != nullptr && f->wrong_op_code) {
            op = op == OP_READ ? OP_NONE : OP_READ;
        }
        if (f != nullptr && f->wrong_address) {
            address += MX25_SECTOR_SIZE;
        }
        COMMS_MSG_t frame;
        if (legacy_) {
            // The legacy flash ACK has no status byte: wrong_status has nothing to act on.
            frame = blank_frame(iface_, ok ? ids_.mx25_ack : ids_.mx25_nack, CAN_5_BYTES);
            frame.data[0] = op;
            put_le32(frame.data + 1, address);
        } else {
            frame = blank_frame(iface_, ids_.mx25_ack, CAN_6_BYTES);
            frame.data[0] = op;
            put_le32(frame.data + 1, address);
            frame.data[5] = ok ? ACK : NACK;
            if (f != nullptr && f->wrong_status) {
                frame.data[5] = kBadStatus;
            }
        }
        add(AnswerKind::FlashAck, frame);
    }

    // A reply that carries data (identification, element value). A refusing fault silences
    // it: these requests have no refusal frame.
    void reply(const COMMS_MSG_t& frame) {
        if (refused(AnswerKind::Reply)) {
            return;
        }
        add(AnswerKind::Reply, frame);
    }

    std::vector<Answer> take() { return std::move(out_); }

private:
    const Fault* fault(AnswerKind kind) const {
        const auto it = armed_.find(kind);
        return it == armed_.end() ? nullptr : &it->second;
    }

    void add(AnswerKind kind, COMMS_MSG_t frame) {
        const Fault* f = fault(kind);
        const uint32_t delay = f != nullptr ? f->delay_ms : 0;
        const uint32_t unrelated = f != nullptr ? f->unrelated_before : 0;
        for (uint32_t i = 0; i < unrelated; ++i) {
            COMMS_MSG_t noise = blank_frame(iface_, ids_.sensor_data, CAN_8_BYTES);
            for (uint8_t b = 0; b < 8; ++b) {
                noise.data[b] = static_cast<uint8_t>(0x40 + b + i);
            }
            out_.push_back({noise, delay});
        }
        if (f != nullptr && f->no_answer) {
            return;
        }
        if (f != nullptr && f->wrong_id) {
            frame.can_ID = other_answer_id(frame.can_ID);
        }
        if (f != nullptr && f->wrong_length && frame.msg_len > 0) {
            const uint8_t old_len = can_msg_payload_len(frame.msg_len);
            frame.msg_len = static_cast<CAN_MSG_LEN_t>(frame.msg_len - 1);
            const uint8_t new_len = can_msg_payload_len(frame.msg_len);
            std::memset(frame.data + new_len, 0, old_len - new_len);
        }
        const uint32_t copies = 1 + (f != nullptr ? f->repeat : 0);
        for (uint32_t i = 0; i < copies; ++i) {
            out_.push_back({frame, delay});
        }
    }

    // The identifier of an answer the tool could take this one for: the other record's
    // value reply, the other acknowledgement, the other identification.
    uint32_t other_answer_id(uint32_t id) const {
        const std::pair<uint32_t, uint32_t> pairs[] = {
            {ids_.send_user_setting, ids_.send_sensor_calib},
            {ids_.ack, ids_.mx25_ack},
            {ids_.nack, ids_.mx25_nack},
            {CANMSG_WHOAMI, unit_ids(true).whoami},
        };
        for (const auto& [a, b] : pairs) {
            if (a == 0 || b == 0) {
                continue;
            }
            if (id == a) {
                return b;
            }
            if (id == b) {
                return a;
            }
        }
        return id;
    }

    const UnitIds& ids_;
    bool legacy_;
    COMM_INTERFACE_t iface_;
    std::map<AnswerKind, Fault> armed_;
    std::vector<Answer> out_;
};

EfisUnit::EfisUnit() {
    // The boot loader reads the bank headers back, so checking mode keeps their bytes.
    flash_.keep_bytes(kBank1Start, kHeaderSize);
    flash_.keep_bytes(kBank2Start, kHeaderSize);
    reset_locked();
}

void EfisUnit::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    reset_locked();
}

void EfisUnit::reset_locked() {
    serial_ = kDefaultSerial;
    version_ = make_version(0, 2, 12, 0);
    answers_current_whoami_ = false;
    check_store_crc_ = true;
    refuse_unerased_writes_ = true;
    partition_ = partition_1;
    faults_.clear();
    received_.clear();
    settings_ = default_settings();
    calibration_ = default_calibration();
    store_count_ = 0;
    reboot_count_ = 0;
    reboot_ms_ = kDefaultRebootMs;
    reboots_untaken_ = 0;
    bank_written_ = false;
    airport_db_open_ = true;
    write_address_ = 0;
    flash_.set_checking(false);
    erased_blocks_.clear();
}

bool EfisUnit::legacy_map() const {
    const auto& v = version_.fields;
    if (v.major != 0) {
        return false;
    }
    if (v.minor != 2) {
        return v.minor < 2;
    }
    return v.patch < 12;
}

const UnitIds& EfisUnit::ids() const {
    return unit_ids(legacy_map());
}

void EfisUnit::set_generation(Generation g) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = g == Generation::Current ? make_version(0, 2, 12, 0) : make_version(0, 1, 0, 0);
}

Generation EfisUnit::generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return legacy_map() ? Generation::Legacy : Generation::Current;
}

void EfisUnit::set_serial(uint32_t serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    serial_ = serial;
}

void EfisUnit::set_version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = make_version(major, minor, patch, rc);
}

fwversion_t EfisUnit::version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

void EfisUnit::set_reboot_ms(uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    reboot_ms_ = ms;
}

uint32_t EfisUnit::reboot_ms() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reboot_ms_;
}

bool EfisUnit::take_reboot() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reboots_untaken_ == 0) {
        return false;
    }
    --reboots_untaken_;
    return true;
}

void EfisUnit::set_answers_current_whoami(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_current_whoami_ = on;
}

void EfisUnit::set_check_store_crc(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_store_crc_ = on;
}

void EfisUnit::set_refuse_unerased_writes(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_unerased_writes_ = on;
}

void EfisUnit::set_partition_answer(uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    partition_ = value;
}

void EfisUnit::set_flash_checking(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.set_checking(on);
}

void EfisUnit::set_fault(uint32_t request_id, const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[{request_id, fault.answer}] = FaultState{fault, 0, 0};
}

void EfisUnit::clear_faults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

std::map<AnswerKind, Fault> EfisUnit::arm_faults(uint32_t request_id) {
    std::map<AnswerKind, Fault> armed;
    for (auto& [key, state] : faults_) {
        if (key.first != request_id) {
            continue;
        }
        ++state.seen;
        const bool due = state.seen > state.fault.skip_first;
        const bool left = state.fault.times < 0 || state.fired < state.fault.times;
        if (due && left) {
            ++state.fired;
            armed[key.second] = state.fault;
        }
    }
    return armed;
}

std::vector<Answer> EfisUnit::handle(const COMMS_MSG_t& in) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(in);
    const uint32_t id = in.can_ID;
    const UnitIds& n = ids();
    Answers out(n, legacy_map(), in.iface, arm_faults(id));
    const bool current_whoami = !legacy_map() || answers_current_whoami_;
    if (id == CANMSG_WHOAMI && current_whoami) {
        on_whoami_current(in, out);
    } else if (id == unit_ids(true).whoami && legacy_map()) {
        on_whoami_legacy(in, out);
    } else if (id == n.request_user_setting) {
        on_read_setting(in, out);
    } else if (id == n.set_user_setting) {
        on_set_setting(in, out);
    } else if (id == n.save_user_settings) {
        on_store_settings(in, out);
    } else if (id == n.request_sensor_calib) {
        on_read_calib(in, out);
    } else if (id == n.set_sensor_calib) {
        on_set_calib(in, out);
    } else if (id == n.save_sensor_calib) {
        on_store_calib(in, out);
    } else if (id == n.enter_bl) {
        on_enter_bl(in);
    } else if (id == n.erase_mx25) {
        on_erase(in, out);
    } else if (id == n.set_addr_mx25) {
        on_set_address(in, out);
    } else if (id == n.write_mx25) {
        on_write(in, out);
    } else if (id == n.get_partition) {
        on_get_partition(in, out);
    } else if (id == n.airport_db_op) {
        on_airport_db_op(in, out);
    }
    return out.take();
}

namespace {

bool is_whoami_request(const COMMS_MSG_t& in) {
    return in.msg_len == CAN_2_BYTES && in.data[0] == kWhoamiMarker0 &&
           in.data[1] == kWhoamiMarker1;
}

}  // namespace

void EfisUnit::on_whoami_current(const COMMS_MSG_t& in, Answers& out) const {
    if (!is_whoami_request(in)) {
        return;
    }
    COMMS_MSG_t r = blank_frame(in.iface, CANMSG_WHOAMI, CAN_8_BYTES);
    for (int i = 0; i < 4; ++i) {
        r.data[i] = static_cast<uint8_t>(serial_ >> (24 - 8 * i));  // big-endian
    }
    r.data[4] = version_.fields.rc;
    r.data[5] = version_.fields.patch;
    r.data[6] = version_.fields.minor;
    r.data[7] = version_.fields.major;
    out.reply(r);
}

void EfisUnit::on_whoami_legacy(const COMMS_MSG_t& in, Answers& out) const {
    if (!is_whoami_request(in)) {
        return;
    }
    COMMS_MSG_t r = blank_frame(in.iface, unit_ids(true).whoami, CAN_8_BYTES);
    r.data[0] = kWhoamiMarker0;
    r.data[1] = kWhoamiMarker1;
    put_le32(r.data + 4, serial_);
    out.reply(r);
}

// A read of an index without an element, or a request of the wrong length, stays
// unanswered: the read protocol has no refusal.
void EfisUnit::on_read_setting(const COMMS_MSG_t& in, Answers& out) {
    if (in.msg_len != CAN_1_BYTES || !settings_index_known(in.data[0])) {
        return;
    }
    COMMS_MSG_t r = blank_frame(in.iface, ids().send_user_setting, CAN_4_BYTES);
    put_le32(r.data,
             settings_get_value(&settings_, static_cast<settings_struct_index>(in.data[0])));
    out.reply(r);
}

void EfisUnit::on_set_setting(const COMMS_MSG_t& in, Answers& out) {
    bool ok = in.msg_len == CAN_5_BYTES && settings_index_known(in.data[0]) &&
              !out.refused(AnswerKind::CommandAck);
    if (ok) {
        uint32_t value = le32(in.data + 1);
        ok = settings_set_value(&settings_, static_cast<settings_struct_index>(in.data[0]), &value);
    }
    out.command_ack(ids().set_user_setting, ok);
}

// The unit first erases its settings sector (flash ACK), then checks the CRC the tool
// computed and commits (command ACK).
void EfisUnit::on_store_settings(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t id = ids().save_user_settings;
    if (in.msg_len != CAN_4_BYTES) {
        out.command_ack(id, false);
        return;
    }
    if (out.refused(AnswerKind::FlashAck)) {
        out.flash_ack(OP_SECTOR_ERASE, kSettingsSectorAddress, false);
        return;
    }
    out.flash_ack(OP_SECTOR_ERASE, kSettingsSectorAddress, true);
    const uint32_t received_crc = le32(in.data);
    Settings_t check = settings_;
    check.magic = SETTINGS_MAGIC_VALUE;
    check.crc32 = 0;
    const bool crc_ok = !check_store_crc_ || settings_CalcCRC(&check) == received_crc;
    const bool ok = crc_ok && !out.refused(AnswerKind::CommandAck);
    if (ok) {
        settings_.magic = SETTINGS_MAGIC_VALUE;
        settings_.crc32 = received_crc;
        ++store_count_;
    }
    out.command_ack(id, ok);
}

void EfisUnit::on_read_calib(const COMMS_MSG_t& in, Answers& out) {
    if (in.msg_len != CAN_1_BYTES || !calib_index_known(in.data[0])) {
        return;
    }
    COMMS_MSG_t r = blank_frame(in.iface, ids().send_sensor_calib, CAN_4_BYTES);
    put_le32(r.data,
             calib_get_value(&calibration_, static_cast<sensor_calib_struct_index>(in.data[0])));
    out.reply(r);
}

void EfisUnit::on_set_calib(const COMMS_MSG_t& in, Answers& out) {
    bool ok = in.msg_len == CAN_5_BYTES && calib_index_known(in.data[0]) &&
              !out.refused(AnswerKind::CommandAck);
    if (ok) {
        uint32_t value = le32(in.data + 1);
        ok = calib_set_value(&calibration_, static_cast<sensor_calib_struct_index>(in.data[0]),
                             &value);
    }
    out.command_ack(ids().set_sensor_calib, ok);
}

void EfisUnit::on_store_calib(const COMMS_MSG_t& in, Answers& out) {
    out.command_ack(ids().save_sensor_calib, in.msg_len == CAN_4_BYTES);
}

void EfisUnit::on_enter_bl(const COMMS_MSG_t& in) {
    if (in.msg_len == CAN_1_BYTES && in.data[0] == kEnterBootLoader) {
        ++reboot_count_;
        ++reboots_untaken_;
        restart_locked();
    }
}

void EfisUnit::restart_locked() {
    uint32_t start = 0;
    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    const bool reports_version = !legacy_map() || answers_current_whoami_;
    if (bank_written_ && reports_version && named_bank(&start) && complete_image(start, &header)) {
        version_ = installed_version(version_, header.version);
    }
    bank_written_ = false;
    write_address_ = 0;
    airport_db_open_ = true;
}

bool EfisUnit::named_bank(uint32_t* start) const {
    if (partition_ == partition_1) {
        *start = kBank1Start;
        return true;
    }
    if (partition_ == partition_2) {
        *start = kBank2Start;
        return true;
    }
    return false;
}

// Complete: the header and the encrypted_size data bytes behind it were all programmed,
// in one stretch inside the bank.
bool EfisUnit::complete_image(uint32_t start, firmware_header_t* header) const {
    const uint32_t programmed = flash_.programmed_length(start);
    if (programmed < kHeaderSize) {
        return false;
    }
    const std::vector<uint8_t> bytes = flash_.read(start, kHeaderSize);
    std::memcpy(header, bytes.data(), kHeaderSize);
    const uint64_t image_end = uint64_t{kHeaderSize} + header->encrypted_size;
    return image_end <= kBankSize && programmed >= image_end;
}

void EfisUnit::on_erase(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t id = ids().erase_mx25;
    const uint8_t op = in.data[0];
    const uint32_t number = static_cast<uint32_t>(in.data[1]) | static_cast<uint32_t>(in.data[2])
                                                                    << 8;
    uint32_t address = 0;
    bool valid = in.msg_len == CAN_3_BYTES;
    if (op == OP_BLOCK_ERASE) {
        valid = valid && number <= MX25_LAST_BLOCK;
        address = number * MX25_BLOCK_SIZE;
    } else if (op == OP_SECTOR_ERASE) {
        valid = valid && number < kNumSectors;
        address = number * MX25_SECTOR_SIZE;
    } else {
        valid = valid && op == OP_CHIP_ERASE;
    }
    if (!valid || out.refused(AnswerKind::CommandAck)) {
        out.command_ack(id, false);
        return;
    }
    out.command_ack(id, true);
    if (out.refused(AnswerKind::FlashAck)) {
        out.flash_ack(op, address, false);
        return;
    }
    if (op == OP_BLOCK_ERASE) {
        for (uint32_t s = 0; s < kSectorsPerBlock; ++s) {
            flash_.erase_sector(number * kSectorsPerBlock + s);
        }
        erased_blocks_.push_back(number);
    } else if (op == OP_SECTOR_ERASE) {
        flash_.erase_sector(number);
    } else {
        flash_.erase_all();
        for (uint32_t b = 0; b <= MX25_LAST_BLOCK; ++b) {
            erased_blocks_.push_back(b);
        }
    }
    out.flash_ack(op, address, true);
}

void EfisUnit::on_set_address(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t address = le32(in.data);
    const bool ok = in.msg_len == CAN_4_BYTES && address < NorFlash::kSize &&
                    !out.refused(AnswerKind::FlashAck);
    if (ok) {
        write_address_ = address;
    }
    out.flash_ack(OP_SETADDR, address, ok);
}

// The frame cannot say how many of its bytes are data: the unit programs every byte the
// length code stands for (a 10-byte write arrives as 12 bytes, the last two zero) and
// advances its write address by that count.
void EfisUnit::on_write(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t address = write_address_;
    const uint32_t count = can_msg_payload_len(in.msg_len);
    const bool ok = count > 0 && NorFlash::in_range(address, count) &&
                    !(refuse_unerased_writes_ && !flash_.is_erased(address, count)) &&
                    !out.refused(AnswerKind::FlashAck);
    if (ok) {
        flash_.program(address, in.data, count);
        write_address_ = address + count;
        bank_written_ = bank_written_ || address + count > kBank1Start;
    }
    out.flash_ack(OP_WRITE, address, ok);
}

void EfisUnit::on_get_partition(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t id = ids().get_partition;
    if (in.msg_len != CAN_0_BYTES || out.refused(AnswerKind::CommandAck)) {
        out.command_ack(id, false);
        return;
    }
    out.command_ack(id, true);
    out.flash_ack(OP_GETPART, partition_, true);
}

void EfisUnit::on_airport_db_op(const COMMS_MSG_t& in, Answers& out) {
    const uint32_t id = ids().airport_db_op;
    const uint8_t op = in.data[0];
    if (in.msg_len == CAN_1_BYTES && op == kAirportDbOpen) {
        airport_db_open_ = true;
        return;
    }
    const bool ok =
        in.msg_len == CAN_1_BYTES && op == kAirportDbClose && !out.refused(AnswerKind::CommandAck);
    if (ok) {
        airport_db_open_ = false;
    }
    out.command_ack(id, ok);
}

std::vector<COMMS_MSG_t> EfisUnit::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void EfisUnit::clear_received() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
}

Settings_t EfisUnit::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void EfisUnit::set_settings(const Settings_t& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = s;
}

SENSOR_CALIB_t EfisUnit::calibration() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calibration_;
}

void EfisUnit::set_calibration(const SENSOR_CALIB_t& c) {
    std::lock_guard<std::mutex> lock(mutex_);
    calibration_ = c;
}

uint32_t EfisUnit::store_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_count_;
}

uint32_t EfisUnit::reboot_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reboot_count_;
}

bool EfisUnit::airport_db_open() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return airport_db_open_;
}

uint32_t EfisUnit::write_address() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return write_address_;
}

std::vector<uint8_t> EfisUnit::flash_read(uint32_t address, uint32_t length) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.read(address, length);
}

void EfisUnit::flash_fill(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.fill(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint32_t> EfisUnit::erased_blocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return erased_blocks_;
}

std::vector<ProgrammedRun> EfisUnit::flash_runs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.programmed_runs();
}

uint32_t EfisUnit::id_ack() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ids().ack;
}

uint32_t EfisUnit::id_mx25_ack() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ids().mx25_ack;
}

}  // namespace emu
