#include "tests/faults/fault_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "EFIS_shared/can_export.h"
#include "comms/legacy_can_export.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "emulator/unit_ids.h"

namespace fault_matrix {

namespace {

constexpr uint8_t kAirportDbClose = 0xDC;
constexpr uint32_t kShortDelayMs = 200;
constexpr uint32_t kPastReadDelayMs = 1300;       // a USB read waits 1000 ms
constexpr uint32_t kPastBoundDelayMs = 3300;      // an acknowledgement wait ends after 3000 ms
constexpr uint32_t kTrafficPerSecond = 20;        // keeps every read busy past its time-out
constexpr uint32_t kReadWaitMs = 1000;            // one USB read
constexpr uint32_t kIdentificationWaitMs = 4000;  // two probes of 2000 ms each

bool is_identification(uint32_t id) {
    return id == CANMSG_WHOAMI || id == LEGACY_CANMSG_WHOAMI;
}

std::optional<Request> request_of(uint32_t id, const COMMS_MSG_t& frame, const emu::UnitIds& n) {
    if (is_identification(id)) {
        return Request::Identification;
    }
    const std::pair<uint32_t, Request> requests[] = {
        {n.request_user_setting, Request::ReadSetting},
        {n.set_user_setting, Request::SetSetting},
        {n.save_user_settings, Request::StoreSettings},
        {n.request_sensor_calib, Request::ReadCalibration},
        {n.enter_bl, Request::EnterBootLoader},
        {n.write_mx25, Request::Write},
        {n.erase_mx25, Request::Erase},
        {n.set_addr_mx25, Request::SetAddress},
        {n.get_partition, Request::Partition},
    };
    for (const auto& [request_id, request] : requests) {
        if (id == request_id) {
            return request;
        }
    }
    if (id == n.airport_db_op) {
        return frame.data[0] == kAirportDbClose ? Request::AirportClose : Request::AirportOpen;
    }
    return std::nullopt;
}

const char* request_name(Request r) {
    switch (r) {
    case Request::Identification:
        return "whoami";
    case Request::ReadSetting:
        return "read-setting";
    case Request::SetSetting:
        return "set-setting";
    case Request::StoreSettings:
        return "store-settings";
    case Request::ReadCalibration:
        return "read-calibration";
    case Request::EnterBootLoader:
        return "enter-boot-loader";
    case Request::Partition:
        return "partition";
    case Request::Erase:
        return "erase";
    case Request::SetAddress:
        return "set-address";
    case Request::Write:
        return "write";
    case Request::AirportClose:
        return "airport-close";
    case Request::AirportOpen:
        return "airport-open";
    }
    return "?";
}

// The answers the unit gives a request, in the order it sends them.
std::vector<emu::AnswerKind> answers_to(Request r) {
    using K = emu::AnswerKind;
    switch (r) {
    case Request::Identification:
    case Request::ReadSetting:
    case Request::ReadCalibration:
        return {K::Reply};
    case Request::SetSetting:
    case Request::AirportClose:
        return {K::CommandAck};
    case Request::StoreSettings:
        return {K::FlashAck, K::CommandAck};
    case Request::Erase:
    case Request::Partition:
        return {K::CommandAck, K::FlashAck};
    case Request::SetAddress:
    case Request::Write:
        return {K::FlashAck};
    case Request::EnterBootLoader:
    case Request::AirportOpen:
        return {};
    }
    return {};
}

const char* answer_name(emu::AnswerKind kind) {
    switch (kind) {
    case emu::AnswerKind::CommandAck:
        return "command-ack";
    case emu::AnswerKind::FlashAck:
        return "flash-ack";
    case emu::AnswerKind::Reply:
        return "reply";
    }
    return "?";
}

// The faults that act on one kind of answer. A refusal of a reply is its silence, which
// NoAnswer already is; OtherCommand names a command, which only a command ACK does.
std::vector<FaultKind> faults_on(emu::AnswerKind kind) {
    using F = FaultKind;
    std::vector<FaultKind> faults = {F::NoAnswer,   F::WrongId,       F::WrongLength,
                                     F::DelayShort, F::DelayPastRead, F::DelayPastBound,
                                     F::Repeat,     F::UnrelatedFirst};
    if (kind != emu::AnswerKind::Reply) {
        faults.insert(faults.end(), {F::Refuse, F::WrongStatus});
    }
    if (kind == emu::AnswerKind::CommandAck) {
        faults.push_back(F::OtherCommand);
    }
    if (kind == emu::AnswerKind::FlashAck) {
        faults.insert(faults.end(), {F::WrongOpCode, F::WrongAddress});
    }
    return faults;
}

// Whether the tool learns of the fault only when a read runs out. The legacy command
// acknowledgement wait recognises no refusal.
bool ends_in_silence(FaultKind fault, emu::AnswerKind kind, bool legacy) {
    switch (fault) {
    case FaultKind::NoAnswer:
    case FaultKind::WrongId:
        return true;
    case FaultKind::WrongLength:
        return kind != emu::AnswerKind::CommandAck;
    case FaultKind::Refuse:
        return legacy && kind == emu::AnswerKind::CommandAck;
    default:
        return false;
    }
}

// Faults that probe how a wait passes over the frames it does not await, placed once for
// each kind of wait (a value read, a command acknowledgement, a flash acknowledgement, the
// partition answer, the identification); and an answer past the wait's bound, once for each
// bound (the value read's, the 3000 ms of the acknowledgement waits, the identification's).
bool probes_filter(FaultKind fault, emu::AnswerKind kind) {
    return fault == FaultKind::WrongId ||
           (fault == FaultKind::WrongLength && kind != emu::AnswerKind::CommandAck);
}

bool one_of_each_filter(Request r, emu::AnswerKind kind) {
    using K = emu::AnswerKind;
    return (r == Request::ReadSetting && kind == K::Reply) ||
           (r == Request::SetSetting && kind == K::CommandAck) ||
           (r == Request::Write && kind == K::FlashAck) ||
           (r == Request::Partition && kind == K::FlashAck) ||
           (r == Request::Identification && kind == K::Reply);
}

bool one_of_each_bound(Request r, emu::AnswerKind kind) {
    using K = emu::AnswerKind;
    return (r == Request::ReadSetting && kind == K::Reply) ||
           (r == Request::SetSetting && kind == K::CommandAck) ||
           (r == Request::Identification && kind == K::Reply);
}

// Runs of requests that go on after one failed, where a late answer could be taken for the
// next request's.
bool goes_on_after_a_failure(Request r) {
    return r == Request::ReadSetting || r == Request::ReadCalibration || r == Request::SetSetting;
}

bool placed(FaultKind fault, emu::AnswerKind kind, const Step& step, bool carried, bool legacy) {
    const bool first = step.position == Position::First;
    if (probes_filter(fault, kind)) {
        return carried && first && one_of_each_filter(step.request, kind);
    }
    if (fault == FaultKind::DelayPastBound) {
        return carried && first && one_of_each_bound(step.request, kind);
    }
    if (fault == FaultKind::DelayPastRead) {
        return carried && (first || (step.position == Position::Middle &&
                                     goes_on_after_a_failure(step.request)));
    }
    if (ends_in_silence(fault, kind, legacy)) {
        return carried && first;
    }
    return true;
}

}  // namespace

const char* fault_name(FaultKind fault) {
    switch (fault) {
    case FaultKind::NoAnswer:
        return "no-answer";
    case FaultKind::Refuse:
        return "refuse";
    case FaultKind::OtherCommand:
        return "ack-names-other-command";
    case FaultKind::WrongId:
        return "wrong-identifier";
    case FaultKind::WrongLength:
        return "wrong-length";
    case FaultKind::WrongStatus:
        return "wrong-status";
    case FaultKind::WrongOpCode:
        return "wrong-op-code";
    case FaultKind::WrongAddress:
        return "wrong-address";
    case FaultKind::DelayShort:
        return "delay-200ms";
    case FaultKind::DelayPastRead:
        return "delay-past-usb-read";
    case FaultKind::DelayPastBound:
        return "delay-past-ack-bound";
    case FaultKind::Repeat:
        return "repeated";
    case FaultKind::UnrelatedFirst:
        return "unrelated-frames-first";
    case FaultKind::LinkLostBefore:
        return "link-lost-before";
    case FaultKind::LinkLostAfter:
        return "link-lost-after";
    }
    return "?";
}

std::vector<Step> steps_of(const std::vector<COMMS_MSG_t>& sent, bool legacy,
                           bool with_identification) {
    const emu::UnitIds& n = emu::unit_ids(legacy);
    std::vector<uint32_t> order;
    std::map<uint32_t, std::vector<size_t>> at;  // identifier -> indices into `sent`
    for (size_t i = 0; i < sent.size(); ++i) {
        const uint32_t id = sent[i].can_ID;
        if (at.count(id) == 0) {
            order.push_back(id);
        }
        at[id].push_back(i);
    }
    std::vector<Step> steps;
    for (const uint32_t id : order) {
        if (is_identification(id) && !with_identification) {
            continue;
        }
        const std::vector<size_t>& where = at[id];
        std::vector<std::pair<size_t, Position>> picks = {{0, Position::First}};
        if (where.size() > 2) {
            picks.emplace_back(where.size() / 2, Position::Middle);
        }
        if (where.size() > 1) {
            picks.emplace_back(where.size() - 1, Position::Last);
        }
        for (const auto& [k, position] : picks) {
            const size_t i = where[k];
            const std::optional<Request> request = request_of(id, sent[i], n);
            if (!request) {
                ADD_FAILURE() << "a request on 0x" << std::hex << id << ", which the unit ignores";
                continue;
            }
            Step s;
            s.request = *request;
            s.request_id = id;
            s.occurrence = static_cast<uint32_t>(k + 1);
            s.frame_number = static_cast<uint32_t>(i + 1);
            s.position = position;
            s.name = std::string(request_name(s.request)) + "#" + std::to_string(k + 1);
            s.answers = answers_to(s.request);
            s.last_frame = i + 1 == sent.size();
            steps.push_back(s);
        }
    }
    return steps;
}

std::vector<Cell> cells_for(const std::vector<Step>& steps, const std::vector<Request>& carried,
                            bool legacy) {
    std::vector<Cell> cells;
    for (const Step& step : steps) {
        const bool carries =
            std::find(carried.begin(), carried.end(), step.request) != carried.end();
        for (const emu::AnswerKind kind : step.answers) {
            for (const FaultKind fault : faults_on(kind)) {
                if (placed(fault, kind, step, carries, legacy)) {
                    cells.push_back({fault, step, kind});
                }
            }
        }
        cells.push_back({FaultKind::LinkLostBefore, step, std::nullopt});
        cells.push_back({FaultKind::LinkLostAfter, step, std::nullopt});
    }
    return cells;
}

size_t applicable_count(const std::vector<Step>& steps) {
    size_t n = 0;
    for (const Step& step : steps) {
        for (const emu::AnswerKind kind : step.answers) {
            n += faults_on(kind).size();
        }
        n += 2;  // the link lost before and after the request
    }
    return n;
}

std::string cell_name(const Cell& cell) {
    std::string name = cell.step.name + "/";
    if (cell.answer) {
        name += answer_name(*cell.answer);
        name += "/";
    }
    return name + fault_name(cell.fault);
}

void arm(const Cell& cell, bool legacy) {
    if (cell.fault == FaultKind::LinkLostBefore) {
        emu_hid::vanish_after(cell.step.frame_number - 1);
        return;
    }
    if (cell.fault == FaultKind::LinkLostAfter) {
        emu_hid::vanish_after(cell.step.frame_number);
        return;
    }
    emu::Fault f;
    f.answer = *cell.answer;
    f.skip_first = cell.step.occurrence - 1;
    f.times = 1;
    switch (cell.fault) {
    case FaultKind::NoAnswer:
        f.no_answer = true;
        break;
    case FaultKind::Refuse:
        f.refuse = true;
        break;
    case FaultKind::OtherCommand:
        f.ack_other_command = true;
        break;
    case FaultKind::WrongId:
        f.wrong_id = true;
        break;
    case FaultKind::WrongLength:
        f.wrong_length = true;
        break;
    case FaultKind::WrongStatus:
        f.wrong_status = true;
        break;
    case FaultKind::WrongOpCode:
        f.wrong_op_code = true;
        break;
    case FaultKind::WrongAddress:
        f.wrong_address = true;
        break;
    case FaultKind::DelayShort:
        f.delay_ms = kShortDelayMs;
        break;
    case FaultKind::DelayPastRead:
        f.delay_ms = kPastReadDelayMs;
        break;
    case FaultKind::DelayPastBound:
        f.delay_ms = kPastBoundDelayMs;
        emu_hid::set_background_traffic(kTrafficPerSecond, emu::unit_ids(legacy).sensor_data);
        break;
    case FaultKind::Repeat:
        f.repeat = 1;
        break;
    case FaultKind::UnrelatedFirst:
        f.unrelated_before = 3;
        break;
    case FaultKind::LinkLostBefore:
    case FaultKind::LinkLostAfter:
        break;
    }
    emu_hid::unit().set_fault(cell.step.request_id, f);
}

Expect expected(const Cell& cell, bool legacy) {
    const Request r = cell.step.request;
    const bool link_lost =
        cell.fault == FaultKind::LinkLostBefore || cell.fault == FaultKind::LinkLostAfter;
    if (r == Request::Identification && !link_lost) {
        // A legacy unit also answers the legacy identification, which the tool sends when the
        // current one fails; and the identification waits 2000 ms for its answer.
        if (legacy || cell.fault == FaultKind::DelayPastRead) {
            return Expect::Succeed;
        }
    }
    switch (cell.fault) {
    case FaultKind::DelayShort:
    case FaultKind::Repeat:
    case FaultKind::UnrelatedFirst:
        return Expect::Succeed;
    case FaultKind::WrongStatus:
        // The legacy flash acknowledgement has no status byte for the fault to spoil.
        return legacy && cell.answer == emu::AnswerKind::FlashAck ? Expect::Succeed : Expect::Fail;
    case FaultKind::WrongOpCode:
        return r == Request::Partition || r == Request::StoreSettings ? Expect::Either
                                                                      : Expect::Fail;
    case FaultKind::WrongAddress:
        return r == Request::Write || r == Request::StoreSettings ? Expect::Either : Expect::Fail;
    case FaultKind::LinkLostAfter:
        // A last request that the unit does not answer has done its work once it is out.
        return cell.step.answers.empty() && cell.step.last_frame ? Expect::Succeed : Expect::Fail;
    default:
        return Expect::Fail;
    }
}

uint32_t extra_time_ms(const Cell& cell, bool legacy) {
    const uint32_t wait =
        cell.step.request == Request::Identification ? kIdentificationWaitMs : kReadWaitMs;
    switch (cell.fault) {
    case FaultKind::DelayShort:
        return kShortDelayMs;
    case FaultKind::DelayPastRead:
        return kPastReadDelayMs + wait;
    case FaultKind::DelayPastBound:
        return kPastBoundDelayMs + wait;
    default:
        return cell.answer && ends_in_silence(cell.fault, *cell.answer, legacy) ? wait : 0;
    }
}

}  // namespace fault_matrix
