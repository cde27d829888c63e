// Frame builders and the two generations' identifiers, written out as numbers so that a
// wrong value in a shared header shows up here.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "emulator/efis_unit.h"

namespace emu_test {

struct GenCase {
    const char* name;
    emu::Generation gen;
    uint32_t whoami, ack, nack, mx25_ack, mx25_nack;
    uint32_t req_setting, send_setting, set_setting, save_settings;
    uint32_t req_calib, send_calib, set_calib, save_calib;
    uint32_t enter_bl, write, erase, set_addr, airport, get_partition, sensor_data;
};

inline const GenCase kCurrent{"Current", emu::Generation::Current,
                              0x010,     0x0E0,
                              0x0E0,     0x0F0,
                              0x0F0,     0x370,
                              0x380,     0x390,
                              0x3A0,     0x330,
                              0x340,     0x350,
                              0x360,     0x3B0,
                              0x420,     0x430,
                              0x440,     0x450,
                              0x730,     0x2C0};
inline const GenCase kLegacy{"Legacy", emu::Generation::Legacy,
                             0x123,    0x255,
                             0x254,    0x256,
                             0x257,    0x376,
                             0x377,    0x378,
                             0x379,    0x354,
                             0x355,    0x356,
                             0x357,    0x399,
                             0x415,    0x416,
                             0x417,    0x42F,
                             0x287,    0x302};

inline std::string gen_name(const testing::TestParamInfo<GenCase>& info) {
    return info.param.name;
}

inline COMMS_MSG_t frame(uint32_t id, uint8_t len, const std::vector<uint8_t>& payload = {}) {
    COMMS_MSG_t f;
    std::memset(&f, 0, sizeof(f));
    f.iface = USB_HID;
    f.can_ID = id;
    f.msg_len = static_cast<CAN_MSG_LEN_t>(len);
    for (size_t i = 0; i < payload.size() && i < 64; ++i) {
        f.data[i] = payload[i];
    }
    return f;
}

inline std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

inline std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One expected frame: identifier, length code and every byte of the 64-byte payload area
// (bytes beyond `payload` must be zero).
struct Expected {
    uint32_t id;
    uint8_t len;
    std::vector<uint8_t> payload;
};

inline std::ostream& operator<<(std::ostream& os, const Expected& e) {
    os << std::hex << "{id 0x" << e.id << " len " << unsigned(e.len) << " [";
    for (uint8_t b : e.payload) {
        os << " " << unsigned(b);
    }
    return os << " ]}" << std::dec;
}

inline Expected as_expected(const COMMS_MSG_t& f) {
    const uint32_t id = f.can_ID;
    std::vector<uint8_t> p(f.data, f.data + 64);
    while (!p.empty() && p.back() == 0 && p.size() > can_msg_payload_len(f.msg_len)) {
        p.pop_back();
    }
    p.resize(p.size() < can_msg_payload_len(f.msg_len) ? can_msg_payload_len(f.msg_len) : p.size());
    return {id, f.msg_len, p};
}

inline bool operator==(const Expected& a, const Expected& b) {
    return a.id == b.id && a.len == b.len && a.payload == b.payload;
}

inline std::vector<Expected> frames_of(const std::vector<emu::Answer>& answers) {
    std::vector<Expected> out;
    for (const emu::Answer& a : answers) {
        out.push_back(as_expected(a.frame));
    }
    return out;
}

inline Expected command_ack(const GenCase& g, uint32_t request, bool ok) {
    if (g.gen == emu::Generation::Legacy) {
        return {ok ? g.ack : g.nack, 6, cat(le32(request), {0xEF, 0x15})};
    }
    return {g.ack,
            4,
            {0x00, static_cast<uint8_t>(request), static_cast<uint8_t>(request >> 8),
             static_cast<uint8_t>(ok ? 1 : 0)}};
}

inline Expected flash_ack(const GenCase& g, uint8_t op, uint32_t address, bool ok) {
    if (g.gen == emu::Generation::Legacy) {
        return {ok ? g.mx25_ack : g.mx25_nack, 5, cat({op}, le32(address))};
    }
    return {g.mx25_ack, 6, cat(cat({op}, le32(address)), {static_cast<uint8_t>(ok ? 1 : 0)})};
}

inline Expected value_reply(uint32_t id, uint32_t value) {
    return {id, 4, le32(value)};
}

}  // namespace emu_test
