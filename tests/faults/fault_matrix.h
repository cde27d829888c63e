// The fault matrix's cells: the steps of an action found in the frames a fault-free run sent,
// the faults that apply to each step's answers, how a cell's fault is armed on the emulated
// unit, what the action must then report and how long it may take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "emulator/efis_unit.h"

namespace fault_matrix {

enum class FaultKind {
    NoAnswer,
    Refuse,
    OtherCommand,  // the acknowledgement names another command
    WrongId,       // the answer travels on another answer's identifier
    WrongLength,
    WrongStatus,
    WrongOpCode,
    WrongAddress,
    DelayShort,      // late, but within one USB read
    DelayPastRead,   // later than one USB read
    DelayPastBound,  // later than the 3000 ms acknowledgement bound, other traffic meanwhile
    Repeat,
    UnrelatedFirst,
    LinkLostBefore,  // the link is gone when the step's request is written
    LinkLostAfter,   // the request reaches the unit, then the link is gone
};

const char* fault_name(FaultKind fault);

enum class Request {
    Identification,
    ReadSetting,
    SetSetting,
    StoreSettings,
    ReadCalibration,
    EnterBootLoader,
    Partition,
    Erase,
    SetAddress,
    Write,
    AirportClose,
    AirportOpen,
};

// Where a step lies among the requests of its identifier.
enum class Position { First, Middle, Last };

// One request of an action.
struct Step {
    Request request = Request::Identification;
    uint32_t request_id = 0;
    uint32_t occurrence = 0;    // 1-based among the action's requests on this identifier
    uint32_t frame_number = 0;  // 1-based among every frame the action sends
    Position position = Position::First;
    std::string name;  // "erase#2"
    std::vector<emu::AnswerKind> answers;
    bool last_frame = false;
};

// The first, middle and last request of each identifier in `sent` (in order of first use),
// without the identification unless `with_identification`.
std::vector<Step> steps_of(const std::vector<COMMS_MSG_t>& sent, bool legacy,
                           bool with_identification);

struct Cell {
    FaultKind fault;
    Step step;
    std::optional<emu::AnswerKind> answer;  // none for the link faults
};

// The cells of one action. Faults that the tool sees at once go to every step. Faults that
// cost a read time-out or more go to the requests in `carried` only, each request being
// carried by one action, as its wait and what follows a failed wait are the same code in
// every action that sends it (the others meet the same failures at once through refusals and
// a lost link): silences and late answers on the first request, late answers also in the
// middle of a run of requests that goes on after a failure; the faults that probe how a wait
// passes over other frames once for each kind of wait, and an answer past the bound once for
// each bound.
std::vector<Cell> cells_for(const std::vector<Step>& steps, const std::vector<Request>& carried,
                            bool legacy);

// Every fault that applies to the steps, wherever it costs what: what cells_for chose from.
size_t applicable_count(const std::vector<Step>& steps);

std::string cell_name(const Cell& cell);

// Sets the cell's fault on the emulated unit and link; counts start from here.
void arm(const Cell& cell, bool legacy);

// Either: the fault spoils a part of the answer that the tool does not examine (the op code
// of the partition answer, the address of a write's acknowledgement, both of the store's
// erase acknowledgement), so only what the action left on the unit is checked.
enum class Expect { Succeed, Fail, Either };
Expect expected(const Cell& cell, bool legacy);

// How much longer than a fault-free run the cell may take: the waits its fault can stretch,
// each by its bound.
uint32_t extra_time_ms(const Cell& cell, bool legacy);

}  // namespace fault_matrix
