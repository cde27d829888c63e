// Every user action against every fault the emulated unit can put into each of its steps, on
// both firmware generations. A fault-free run of the action names its steps (the requests it
// sends); each cell then arms one fault at one step and checks that the action ended within
// its bound, that it reported success only where the fault left the outcome whole, and that
// the unit's settings and flash hold what the tool said they hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "emulator/hidapi/emulated_hidapi.h"
#include "tests/faults/fault_matrix.h"
#include "tests/faults/matrix_actions.h"

namespace fault_matrix {

void PrintTo(const ActionDef& action, std::ostream* os) {
    *os << action.name;
}

namespace {

struct GenDef {
    const char* name;
    emu::Generation gen;
};

void PrintTo(const GenDef& g, std::ostream* os) {
    *os << g.name;
}

const GenDef kGenerations[] = {{"Current", emu::Generation::Current},
                               {"Legacy", emu::Generation::Legacy}};

// A cell may take this many times as long as the fault-free run, beside what its fault adds.
constexpr double kSlowdown = 3.0;
constexpr double kSlackMs = 2000.0;
constexpr size_t kLogLinesShown = 150;

std::vector<ActionDef> all_actions() {
    std::vector<ActionDef> all = settings_actions();
    for (const auto& more : {upload_actions(), cli_actions()}) {
        all.insert(all.end(), more.begin(), more.end());
    }
    return all;
}

// Failed assertions so far, so that a cell can tell whether it passed.
class FailureCounter : public testing::EmptyTestEventListener {
public:
    void OnTestPartResult(const testing::TestPartResult& result) override {
        failures += result.failed() ? 1 : 0;
    }
    int failures = 0;
};

FailureCounter* g_failures = nullptr;

struct Tally {
    size_t steps = 0;
    size_t applicable = 0;
    size_t run = 0;
    size_t passed = 0;
    double total_ms = 0;
    double slowest_ms = 0;
    std::string slowest;

    void add(const std::string& name, double ms, bool passed_cell) {
        ++run;
        passed += passed_cell ? 1 : 0;
        total_ms += ms;
        if (ms > slowest_ms) {
            slowest_ms = ms;
            slowest = name;
        }
    }
    void print(const std::string& what) const {
        std::printf(
            "%s: %zu steps, %zu cells run (of %zu faults that apply to them), %zu passed, %zu "
            "failed; slowest cell %s (%.0f ms); cells took %.1f s\n",
            what.c_str(), steps, run, applicable, passed, run - passed, slowest.c_str(), slowest_ms,
            total_ms / 1000.0);
        std::fflush(stdout);
    }
};

Tally g_total;

// Counts failures for the cells and prints the summary once every test has run. Backups
// that efis-cli's firmware verb writes stay in the test's own directory.
class MatrixEnvironment : public testing::Environment {
public:
    void SetUp() override {
        const std::string data = testing::TempDir() + "fault_matrix_xdg";
        setenv("XDG_DATA_HOME", data.c_str(), 0);
        g_failures = new FailureCounter;
        testing::UnitTest::GetInstance()->listeners().Append(g_failures);
    }
    void TearDown() override { g_total.print("Fault matrix"); }
};

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new MatrixEnvironment);

// Standard output of one cell (the protocol log, and the failures gtest prints), kept aside
// and shown only when the cell failed.
class CellLog {
public:
    CellLog() : file_(std::tmpfile()) {
        std::fflush(stdout);
        if (file_ != nullptr) {
            saved_ = dup(STDOUT_FILENO);
            dup2(fileno(file_), STDOUT_FILENO);
        }
    }
    ~CellLog() {
        restore();
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    CellLog(const CellLog&) = delete;
    CellLog& operator=(const CellLog&) = delete;

    // Back to the real standard output; with `show`, the log's last lines are printed there.
    void finish(bool show) {
        restore();
        if (!show || file_ == nullptr) {
            return;
        }
        std::rewind(file_);
        std::vector<std::string> lines;
        std::string line;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        const size_t first = lines.size() > kLogLinesShown ? lines.size() - kLogLinesShown : 0;
        std::printf("----- the failed cell's log, last %zu of %zu lines -----\n",
                    lines.size() - first, lines.size());
        for (size_t i = first; i < lines.size(); ++i) {
            std::printf("%s\n", lines[i].c_str());
        }
        std::printf("----- end of the log -----\n");
        std::fflush(stdout);
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    FILE* file_;
    int saved_ = -1;
};

struct RunResult {
    Outcome outcome;
    double ms = 0;
    std::vector<COMMS_MSG_t> sent;
    size_t reports = 0;  // output reports written, decodable or not
};

// A fresh unit of the generation. The legacy unit also answers the current identification,
// as some do, so that a cell does not wait out the probe a silent one makes the tool repeat.
void fresh_unit(emu::Generation gen) {
    emu_hid::reset();
    emu_hid::unit().set_generation(gen);
    emu_hid::unit().set_answers_current_whoami(gen == emu::Generation::Legacy);
}

// Prepares the action, arms the cell's fault (none for the fault-free run) and runs it.
RunResult run_action(const ActionDef& def, emu::Generation gen, const Cell* cell) {
    RunResult result;
    fresh_unit(gen);
    std::unique_ptr<Action> action = def.make();
    action->prepare();
    if (testing::Test::HasFatalFailure()) {
        return result;
    }
    emu_hid::unit().clear_received();
    emu_hid::clear_output_reports();
    if (cell != nullptr) {
        arm(*cell, gen == emu::Generation::Legacy);
    }
    const auto start = std::chrono::steady_clock::now();
    result.outcome = action->run();
    result.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    result.sent = emu_hid::unit().received();
    result.reports = emu_hid::output_reports().size();
    action.reset();
    emu_hid::reset();
    return result;
}

class FaultMatrix : public testing::TestWithParam<std::tuple<ActionDef, GenDef>> {};

TEST_P(FaultMatrix, EveryFaultAtEveryStep) {
    const ActionDef& def = std::get<0>(GetParam());
    const emu::Generation gen = std::get<1>(GetParam()).gen;
    const bool legacy = gen == emu::Generation::Legacy;

    RunResult reference;
    {
        CellLog log;
        reference = run_action(def, gen, nullptr);
        const bool ok = reference.outcome.claimed_success && !HasFailure();
        log.finish(!ok);
        ASSERT_TRUE(ok) << "the fault-free run failed: " << reference.outcome.said;
    }
    // Every frame the action writes reaches the unit, so frame numbers and requests agree.
    ASSERT_EQ(reference.sent.size(), reference.reports);
    const std::vector<Step> steps = steps_of(reference.sent, legacy, def.identification_step);
    const std::vector<Cell> cells = cells_for(steps, def.carried, legacy);
    ASSERT_FALSE(cells.empty());

    Tally tally;
    tally.steps = steps.size();
    tally.applicable = applicable_count(steps);
    g_total.steps += tally.steps;
    g_total.applicable += tally.applicable;
    for (const Cell& cell : cells) {
        if (HasFatalFailure()) {
            break;
        }
        const std::string name = cell_name(cell);
        const int failures_before = g_failures->failures;
        const double bound_ms = reference.ms * kSlowdown + kSlackMs + extra_time_ms(cell, legacy);
        CellLog log;
        RunResult r;
        {
            SCOPED_TRACE(name);
            r = run_action(def, gen, &cell);
            switch (expected(cell, legacy)) {
            case Expect::Succeed:
                EXPECT_TRUE(r.outcome.claimed_success)
                    << "the fault leaves the outcome whole, yet: " << r.outcome.said;
                break;
            case Expect::Fail:
                EXPECT_FALSE(r.outcome.claimed_success)
                    << "reported success although the fault changed the outcome: "
                    << r.outcome.said;
                break;
            case Expect::Either:
                break;
            }
            EXPECT_LE(r.ms, bound_ms) << "the action ran past its bound";
        }
        const bool passed = g_failures->failures == failures_before;
        log.finish(!passed);
        if (!passed) {
            std::printf("FAILED CELL %s/%s: %s, %.0f ms\n", def.name, std::get<1>(GetParam()).name,
                        name.c_str(), r.ms);
        }
        const std::string full =
            std::string(def.name) + "/" + std::get<1>(GetParam()).name + "/" + name;
        tally.add(full, r.ms, passed);
        g_total.add(full, r.ms, passed);
    }
    tally.print(std::string(def.name) + "/" + std::get<1>(GetParam()).name);
}

INSTANTIATE_TEST_SUITE_P(AllActions, FaultMatrix,
                         testing::Combine(testing::ValuesIn(all_actions()),
                                          testing::ValuesIn(kGenerations)),
                         [](const testing::TestParamInfo<std::tuple<ActionDef, GenDef>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace fault_matrix
