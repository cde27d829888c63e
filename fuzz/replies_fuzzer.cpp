// The unit's answers as the waits and replies of the command layer read them: a scripted USB
// link delivers the input's reports, and each function's result must be the one its answer
// rules give for that stream of frames, for both firmware generations.
//
// Input: op, generation, a 16-bit parameter, then reports, each a length byte and that many
// bytes; a length byte of 0xFF starts the reports that the next request releases.
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "EFIS_shared/mem_layout.h"
#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "fuzz_support.h"

namespace {

using Report = std::vector<uint8_t>;
using Batch = std::vector<Report>;

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr uint32_t kCurrentWhoami = 0x010;
constexpr uint32_t kLegacyWhoami = 0x123;
constexpr size_t kMaxBatches = 3;
constexpr uint8_t kNextRequest = 0xFF;

enum Op : uint8_t { kWaitForAck, kWaitForMx25Ack, kSerialNumber, kGetValue, kPartition, kOps };
enum Generation : uint8_t { kNoneCached, kLegacy, kCurrent, kGenerations };

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Report request_report(uint32_t id, uint8_t code, const std::vector<uint8_t>& payload) {
    Report r = {0x05,
                static_cast<uint8_t>(id),
                static_cast<uint8_t>(id >> 8),
                static_cast<uint8_t>(id >> 16),
                static_cast<uint8_t>(id >> 24),
                code};
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

// The reads that the function under test gets, in order, as the USB transport makes them
// of the released reports; -1 once they are used up.
class ScriptModel {
public:
    void release(const Batch& batch) {
        for (const Report& r : batch) {
            reads_.push_back(fuzz::expected_read(r));
        }
    }
    fuzz::ReportRead read() {
        fuzz::ReportRead r;
        r.result = -1;
        if (!reads_.empty()) {
            r = reads_.front();
            reads_.pop_front();
        }
        return r;
    }
    // The drop of stale frames before a request: up to 64 frames, until a read yields none.
    void drain() {
        for (int i = 0; i < 64; ++i) {
            if (read().result <= 0) {
                return;
            }
        }
    }

private:
    std::deque<fuzz::ReportRead> reads_;
};

bool model_wait_for_ack(ScriptModel& m, uint32_t can_id, bool compact) {
    for (;;) {
        const fuzz::ReportRead r = m.read();
        if (r.result <= 0) {
            return false;
        }
        const COMMS_MSG_t& f = r.frame;
        if (f.can_ID != canmsg_ack()) {
            continue;
        }
        if (compact) {
            return f.msg_len == CAN_4_BYTES &&
                   (f.data[1] | f.data[2] << 8) == static_cast<int>(can_id & 0xFFFF) &&
                   f.data[3] == ACK;
        }
        return f.msg_len == CAN_6_BYTES && le32(f.data) == can_id && f.data[4] == 0xEF &&
               f.data[5] == 0x15;
    }
}

// The flash acknowledgement that decides the wait, or none.
bool model_mx25_frame(ScriptModel& m, bool unified, COMMS_MSG_t* decided) {
    for (;;) {
        const fuzz::ReportRead r = m.read();
        if (r.result <= 0) {
            return false;
        }
        const COMMS_MSG_t& f = r.frame;
        const bool ack = f.can_ID == canmsg_mx25_ack();
        if ((unified && ack && f.msg_len == CAN_6_BYTES) ||
            (!unified && ((ack && can_msg_payload_len(f.msg_len) > 4) ||
                          f.can_ID == canmsg_mx25_nack_wire_id()))) {
            *decided = f;
            return true;
        }
    }
}

struct Serial {
    uint32_t serial = kFail;
    bool replied = false;
    fwversion_t version{};
};

void model_probe(ScriptModel& m, uint32_t whoami_id, Serial* out) {
    for (;;) {
        const fuzz::ReportRead r = m.read();
        if (r.result < 0) {
            out->serial = kFail;
            return;
        }
        const COMMS_MSG_t& f = r.frame;
        if (r.result == 0 || ((f.can_ID ^ whoami_id) & 0x7FF) != 0 || f.msg_len != CAN_8_BYTES) {
            continue;
        }
        fwversion_t version;
        version.version = 0;
        if (whoami_id == kLegacyWhoami) {
            if (f.data[0] != 0xEF || f.data[1] != 0x15) {
                continue;
            }
            out->serial = le32(f.data + 4);
        } else {
            out->serial = static_cast<uint32_t>(f.data[0]) << 24 |
                          static_cast<uint32_t>(f.data[1]) << 16 |
                          static_cast<uint32_t>(f.data[2]) << 8 | f.data[3];
            version.version = le32(f.data + 4);
        }
        out->replied = true;
        out->version = version;
        return;
    }
}

struct Case {
    Op op = kWaitForAck;
    Generation generation = kNoneCached;
    uint16_t param = 0;
    std::vector<Batch> batches;
};

Case parse(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    Case c;
    c.op = static_cast<Op>(in.byte() % kOps);
    c.generation = static_cast<Generation>(in.byte() % kGenerations);
    c.param = in.le16();
    c.batches.resize(1);
    while (!in.empty()) {
        const uint8_t len = in.byte();
        if (len == kNextRequest) {
            if (c.batches.size() == kMaxBatches) {
                break;
            }
            c.batches.emplace_back();
            continue;
        }
        c.batches.back().push_back(in.bytes(len));
    }
    c.batches.resize(kMaxBatches);
    return c;
}

void set_generation(Generation g) {
    reset_whoami_fwversion_cache();
    if (g == kNoneCached) {
        return;
    }
    fwversion_t v;
    v.version = 0;
    v.fields.minor = 2;
    v.fields.patch = g == kCurrent ? 12 : 11;
    cache_whoami_fwversion(v);
}

CommsManager& comms() {
    static CommsManager* instance = [] {
        auto* c = new CommsManager();
        fuzz::check(c->connectUSB(vendor_id, product_id), "the emulated link opens");
        return c;
    }();
    return *instance;
}

void check_requests(const std::vector<Report>& want) {
    fuzz::check(emu_hid::output_reports() == want, "the requests sent, byte for byte");
}

void run_wait_for_ack(const Case& c, ScriptModel& m) {
    const bool compact = device_firmware_at_least_0_2_12();
    const uint32_t can_id = c.param;
    const bool got = wait_for_ack(&comms(), can_id);
    fuzz::check(got == model_wait_for_ack(m, can_id, compact), "wait_for_ack");
    check_requests({});
}

void run_wait_for_mx25_ack(const Case& c, ScriptModel& m) {
    const bool unified = device_firmware_at_least_0_2_12();
    constexpr uint8_t kOpUntouched = 0x5A;
    constexpr uint32_t kAddressUntouched = 0x5A5A5A5A;
    uint8_t op = kOpUntouched;
    uint32_t address = kAddressUntouched;
    uint8_t* op_out = (c.param & 1) != 0 ? nullptr : &op;
    uint32_t* address_out = (c.param & 2) != 0 ? nullptr : &address;
    const bool got = wait_for_mx25_ack(&comms(), op_out, address_out);

    COMMS_MSG_t f;
    std::memset(&f, 0, sizeof(f));
    const bool decided = model_mx25_frame(m, unified, &f);
    const bool echoed = decided && f.can_ID == canmsg_mx25_ack();
    const bool want = echoed && (!unified || f.data[5] == ACK);
    fuzz::check(got == want, "wait_for_mx25_ack");
    fuzz::check(op == (echoed && op_out != nullptr ? f.data[0] : kOpUntouched),
                "op code echoed, or left alone");
    fuzz::check(
        address == (echoed && address_out != nullptr ? le32(f.data + 1) : kAddressUntouched),
        "address echoed, or left alone");
    check_requests({});
}

void run_serial_number(const Case& c, ScriptModel& m) {
    const bool known_before = device_whoami_fwversion_known();
    const fwversion_t cached_before = g_whoami_fwversion;
    fwversion_t fw;
    fw.version = 0x5A5A5A5A;
    fwversion_t* fw_out = (c.param & 1) != 0 ? nullptr : &fw;
    const uint32_t got = get_serialnumber(&comms(), USB_HID, fw_out);

    Serial current;
    m.drain();
    m.release(c.batches[0]);
    model_probe(m, kCurrentWhoami, &current);
    Serial last = current;
    std::vector<Report> requests = {request_report(kCurrentWhoami, CAN_2_BYTES, {0xEF, 0x15})};
    if (current.serial == kFail) {
        Serial legacy;
        m.drain();
        m.release(c.batches[1]);
        model_probe(m, kLegacyWhoami, &legacy);
        last.serial = legacy.serial;
        if (legacy.replied) {
            last.replied = true;
            last.version = legacy.version;
        }
        requests.push_back(request_report(kLegacyWhoami, CAN_2_BYTES, {0xEF, 0x15}));
    }
    fuzz::check(got == last.serial, "get_serialnumber: serial number");
    fuzz::check(
        fw.version == (last.replied && fw_out != nullptr ? last.version.version : 0x5A5A5A5Au),
        "get_serialnumber: version given back only from a reply");
    fuzz::check(device_whoami_fwversion_known() == (known_before || last.replied),
                "get_serialnumber: a reply fills the version cache");
    fuzz::check(
        g_whoami_fwversion.version == (last.replied ? last.version.version : cached_before.version),
        "get_serialnumber: the cache holds the last reply's version");
    check_requests(requests);
}

void run_get_value(const Case& c, ScriptModel& m) {
    const bool settings = (c.param & 0x100) != 0;
    const auto index = static_cast<uint8_t>(c.param);
    constexpr uint32_t kUntouched = 0x5A5A5A5A;
    uint32_t value = kUntouched;
    uint32_t* value_out = (c.param & 0x200) != 0 ? nullptr : &value;
    const bool got =
        get_value_checked(&comms(), settings ? SETTINGS_COMMS : SENSOR_COMMS, index, value_out);

    const uint32_t reply_id = settings ? canmsg_send_user_setting() : canmsg_send_sensor_calib();
    const uint32_t request_id =
        settings ? canmsg_request_user_setting() : canmsg_request_sensor_calib();
    m.drain();
    m.release(c.batches[0]);
    bool want = false;
    uint32_t want_value = kUntouched;
    for (;;) {
        const fuzz::ReportRead r = m.read();
        if (r.result <= 0) {
            break;
        }
        if (r.frame.can_ID == reply_id && can_msg_payload_len(r.frame.msg_len) >= 4) {
            want = true;
            want_value = value_out != nullptr ? le32(r.frame.data) : kUntouched;
            break;
        }
    }
    fuzz::check(got == want, "get_value_checked: answered or not");
    fuzz::check(value == want_value, "get_value_checked: the reply's value, or left alone");
    check_requests({request_report(request_id, CAN_1_BYTES, {index})});
}

void run_partition(const Case& c, ScriptModel& m) {
    const bool unified = device_firmware_at_least_0_2_12();
    const uint32_t got = get_mx25_partition(&comms());

    const uint32_t request_id = canmsg_get_partition();
    m.drain();
    m.release(c.batches[0]);
    uint32_t want = partition_none;
    COMMS_MSG_t f;
    std::memset(&f, 0, sizeof(f));
    if (model_wait_for_ack(m, request_id, unified)) {
        for (;;) {
            const fuzz::ReportRead r = m.read();
            if (r.result <= 0) {
                break;
            }
            f = r.frame;
            const bool ack = f.can_ID == canmsg_mx25_ack();
            if (!ack && (unified || f.can_ID != canmsg_mx25_nack_wire_id())) {
                continue;
            }
            const bool accepted = ack && (unified ? f.msg_len == CAN_6_BYTES && f.data[5] == ACK
                                                  : can_msg_payload_len(f.msg_len) >= 5);
            const uint32_t value = le32(f.data + 1);
            if (accepted && (value == partition_1 || value == partition_2)) {
                want = value;
            }
            break;
        }
    }
    fuzz::check(got == want, "get_mx25_partition");
    check_requests({request_report(request_id, CAN_0_BYTES, {})});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_stdout();
    comms();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Case c = parse(data, size);
    emu_hid::set_scripted(true);
    emu_hid::clear_output_reports();
    set_generation(c.generation);

    // Without a request the first reports are on the link already; with requests, each
    // request releases its own.
    const bool requests = c.op == kSerialNumber || c.op == kGetValue || c.op == kPartition;
    ScriptModel model;
    for (size_t i = 0; i < c.batches.size(); ++i) {
        for (const Report& r : c.batches[i]) {
            if (requests) {
                emu_hid::inject_after_writes(static_cast<uint32_t>(i + 1), r);
            } else if (i == 0) {
                emu_hid::inject_input_report(r);
            }
        }
    }
    if (!requests) {
        model.release(c.batches[0]);
    }
    switch (c.op) {
    case kWaitForAck:
        run_wait_for_ack(c, model);
        break;
    case kWaitForMx25Ack:
        run_wait_for_mx25_ack(c, model);
        break;
    case kSerialNumber:
        run_serial_number(c, model);
        break;
    case kGetValue:
        run_get_value(c, model);
        break;
    case kPartition:
        run_partition(c, model);
        break;
    case kOps:
        break;
    }
    return 0;
}
