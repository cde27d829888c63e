// efis-cli's habits: help for every verb and family, suggestions for slips, words matched
// without regard to case, the cause when CAN FD cannot be used, --quiet, --json on every exit,
// output that could not be written, a link lost mid-verb, completion and the verbose log.
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <sstream>

#include "EFIS_shared/comms_types.h"
#include "cli/cli_options.h"
#include "cli/progress_printer.h"
#include "comms/can_diagnosis.h"
#include "tests/cli/cli_test_support.h"

namespace {

using cli_test::CliResult;
using cli_test::run_cli;

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// What a missing interface reads as on this machine: a kernel without CAN says so first.
std::string missing_interface_cause() {
    const int fd = socket(29 /* PF_CAN */, SOCK_RAW, 1 /* CAN_RAW */);
    const bool no_can = fd < 0 && (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT);
    if (fd >= 0) {
        close(fd);
    }
    return no_can ? "efis-cli: this kernel has no CAN support"
                  : "efis-cli: no such interface: nosuch0 (";
}

struct LineCase {
    QStringList args;
    int status;
    bool on_out;        // the first line is standard output's, else standard error's
    std::string first;  // what that line begins with
};

TEST(CliCommandLines, StatusAndFirstLine) {
    const LineCase cases[] = {
        {{"settings", "--help"},
         0,
         true,
         "Usage: efis-cli [OPTIONS] settings SUBCOMMAND [ARGUMENTS]"},
        {{"calibration", "--help"},
         0,
         true,
         "Usage: efis-cli [OPTIONS] calibration SUBCOMMAND [ARGUMENTS]"},
        {{"help", "settings", "set"},
         0,
         true,
         "Usage: efis-cli [OPTIONS] settings set NAME=VALUE... [--save]"},
        {{"help", "calibration"},
         0,
         true,
         "Usage: efis-cli [OPTIONS] calibration SUBCOMMAND [ARGUMENTS]"},
        {{"help"}, 0, true, "Usage: efis-cli [OPTIONS] VERB [ARGUMENTS]"},
        {{"help", "frobnicate"}, 2, false, "efis-cli: unknown verb 'frobnicate'"},
        {{"settings", "list"}, 0, true, "NAME                      VALUES"},
        {{"settings", "set", "units=Knots, Feet, Fahrenheit, hPa"},
         2,
         false,
         "efis-cli: units: \"hPa\" is not a pressure unit: InHg, Mbar"},
        {{"settings", "set", "units=knots, metres, Celsius, InHg"},
         2,
         false,
         "efis-cli: units: \"metres\" is not an altitude unit: Feet, Meters"},
        {{"setings", "show"},
         2,
         false,
         "efis-cli: unknown verb 'setings'; did you mean 'settings'?"},
        {{"settings", "shw"},
         2,
         false,
         "efis-cli: unknown subcommand 'settings shw'; did you mean 'show'?"},
        {{"--jsn", "info"}, 2, false, "efis-cli: unknown option '--jsn'; did you mean '--json'?"},
        {{"settings", "set", "vnee=1"},
         2,
         false,
         "efis-cli: unknown setting 'vnee'; did you mean 'vne'?"},
        {{"settings", "set", "zzz=1"},
         2,
         false,
         "efis-cli: unknown setting 'zzz' (see 'efis-cli settings list')"},
        {{"settings", "import", "-", "--only", "registraton"},
         2,
         false,
         "efis-cli: --only: unknown setting 'registraton'; did you mean 'registration'?"},
        {{"--link", "usb", "settings", "set", "termination_resistor=disable"},
         0,
         true,
         "termination_resistor: Enable -> Disable"},
        {{"--link", "usb", "settings", "set", "MAP_VIEW=track up", "Emitter_Cat=a1"},
         0,
         true,
         "map_view: North Up -> Track Up"},
        {{"--link", "can", "--can-interface", "nosuch0", "info"},
         3,
         false,
         missing_interface_cause()},
        {{"-q", "-v", "info"}, 2, false, "efis-cli: --quiet and --verbose cannot go together"},
        {{"-qv", "info"}, 2, false, "efis-cli: --quiet and --verbose cannot go together"},
        {{"-json", "info"}, 2, false, "efis-cli: unknown option '-json'; did you mean '--json'?"},
        {{"-qx", "info"}, 2, false, "efis-cli: unknown option '-x' in '-qx'"},
        {{"--json=yes", "info"}, 2, false, "efis-cli: --json takes no value"},
        {{"--link"}, 2, false, "efis-cli: --link needs a value"},
        {{"-q", "--link=usb", "settings", "show"}, 0, true, "NAME                      VALUE"},
        {{"-q", "--link", "USB", "info"}, 0, true, "USB HID:      answered"},
        {{"--json", "frobnicate"},
         2,
         true,
         R"({"error":"unknown verb 'frobnicate'","event":"result","exit_status":2,"ok":false})"},
        {{"--json", "settings", "set", "vne=999"},
         2,
         true,
         R"({"error":"vne: \"999\" is not a whole number from 0 to 255","event":"result",)"},
    };
    for (const LineCase& c : cases) {
        emu_hid::reset();
        std::atomic<bool> cancel{false};
        const CliResult r = run_cli(c.args, &cancel);
        const std::string args = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << args << "\n" << r.err;
        const std::string line = first_line(c.on_out ? r.out : r.err);
        EXPECT_EQ(line.substr(0, c.first.size()), c.first) << args << "\n" << r.out << r.err;
        // A refused command line and help send nothing: the unit is never opened.
        if (c.status == 2 || c.first.rfind("Usage:", 0) == 0 ||
            c.args == QStringList{"settings", "list"}) {
            EXPECT_EQ(emu_hid::open_count(), 0u) << args;
        }
    }
    emu_hid::reset();
}

// Every setting in the list, in the table's order, with the values its control takes.
TEST(CliCommandLines, SettingsListHasEverySettingAndItsValues) {
    std::atomic<bool> cancel{false};
    const CliResult r = run_cli({"settings", "list"}, &cancel);
    ASSERT_EQ(r.status, 0);
    const std::pair<const char*, const char*> rows[] = {
        {"vne", "0 to 240"},
        {"min_volts_warning", "5.0 to 65.0 V"},
        {"roll_correction", "-90.0 to 90.0 degrees"},
        {"backlight_brightness", "0 to 21"},
        {"map_view", "North Up, Track Up"},
        {"termination_resistor", "Enable, Disable"},
        {"units",
         "one of each, comma-separated: MPH|Knots|KPH, Feet|Meters, "
         "Fahrenheit|Celsius, InHg|Mbar"},
    };
    for (const auto& [name, values] : rows) {
        EXPECT_TRUE(cli_test::found(r.out, std::string("\n") + name + " +" +
                                               QRegularExpression::escape(values).toStdString() +
                                               "\n"))
            << name;
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 35);
    const std::vector<QJsonObject> events =
        run_cli({"--json", "settings", "list"}, &cancel).events();
    ASSERT_EQ(events.size(), 1u);
    const QJsonArray settings = events[0]["settings"].toArray();
    ASSERT_EQ(settings.size(), 34);
    EXPECT_EQ(settings[33].toObject()["words"].toArray(), QJsonArray({"North Up", "Track Up"}));
}

// Results that cannot reach standard output are a failure, not a silent success.
TEST(CliCommandLines, StandardOutputThatCannotBeWrittenExitsFour) {
    for (const QStringList& args : {QStringList{"--link", "usb", "settings", "show"},
                                    QStringList{"settings", "list"}, QStringList{"--help"}}) {
        emu_hid::reset();
        FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        FILE* err = std::tmpfile();
        std::atomic<bool> cancel{false};
        CliEnvironment env;
        env.out = full;
        env.err = err;
        env.cancel = &cancel;
        env.now = []() { return 0.0; };
        EXPECT_EQ(cli_run(args, env), 4) << args.join(' ').toStdString();
        std::fclose(full);
        EXPECT_NE(cli_test::slurp(err).find("efis-cli: cannot write standard output: " +
                                            std::string(std::strerror(ENOSPC))),
                  std::string::npos);
    }
    emu_hid::reset();
}

class CliLinkLost : public ::testing::TestWithParam<emu::Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
    }
    void TearDown() override { emu_hid::reset(); }
    // Frames of the identification before the settings are asked for.
    uint32_t handshake() const { return GetParam() == emu::Generation::Current ? 1 : 2; }
    bool current() const { return GetParam() == emu::Generation::Current; }
    // Requests of one identifier the unit received before the link went.
    static int received(uint32_t id) {
        int n = 0;
        for (const COMMS_MSG_t& m : emu_hid::unit().received()) {
            n += (m.can_ID & 0x7FF) == id ? 1 : 0;
        }
        return n;
    }
    std::atomic<bool> cancel{false};
};

// The link goes as the 19th value is asked for: its answer never comes.
TEST_P(CliLinkLost, DuringTheLoadSaysHowFarItGot) {
    emu_hid::vanish_after(handshake() + 4 + 19);
    const CliResult r = run_cli({"--link", "usb", "settings", "show"}, &cancel);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(received(current() ? 0x370 : 0x376), 4 + 19);
    EXPECT_NE(r.err.find("efis-cli: the unit was disconnected after 18 of 36 values\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
}

// The link goes as the second value is sent: the JSON result lists only what the unit took.
TEST_P(CliLinkLost, WhileSendingReportsOnlyWhatWasAcknowledged) {
    emu_hid::vanish_after(handshake() + 4 + 36 + 2);
    const CliResult r = run_cli(
        {"--json", "--link", "usb", "settings", "set", "vs0=44", "vne=170", "--save"}, &cancel);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(received(current() ? 0x390 : 0x378), 2);
    EXPECT_NE(r.err.find("efis-cli: the unit was disconnected after 1 of 2 values; not confirmed: "
                         "vne; nothing was saved"),
              std::string::npos)
        << r.err;
    const std::vector<QJsonObject> events = r.events();
    ASSERT_FALSE(events.empty());
    const QJsonArray changes = events.back()["changes"].toArray();
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0].toObject()["name"].toString(), "vs0");
    EXPECT_FALSE(events.back()["saved"].toBool());
}

INSTANTIATE_TEST_SUITE_P(Generations, CliLinkLost,
                         ::testing::Values(emu::Generation::Current, emu::Generation::Legacy),
                         [](const auto& info) {
                             return std::string(info.param == emu::Generation::Current ? "Current"
                                                                                       : "Legacy");
                         });

// A system where the kernel has CAN (or not), the named interface exists (or not) and, when
// `iface` is given, is that CAN interface.
CanSystemView system_view(bool kernel_has_can, bool exists, const CanInterface* iface,
                          std::vector<std::string> can_interfaces) {
    CanSystemView view;
    view.kernel_has_can = kernel_has_can;
    view.exists = exists;
    view.is_can = iface != nullptr;
    if (iface != nullptr) {
        view.iface = *iface;
    }
    view.can_interfaces = std::move(can_interfaces);
    return view;
}

TEST(CanLinkProblem, NamesTheFirstCauseToFix) {
    const CanInterface can0{"can0", false, false, false};
    const CanInterface vcan0{"vcan0", true, false, true};
    const CanInterface classic{"can1", false, true, false};
    const CanInterface ready{"can2", true, true, false};
    const struct {
        const char* name;
        CanSystemView view;
        std::string problem;
    } cases[] = {
        {"nosuch0", system_view(false, false, nullptr, {}), "this kernel has no CAN support"},
        {"nosuch0", system_view(true, false, nullptr, {"can0", "vcan0"}),
         "no such interface: nosuch0 (CAN interfaces: can0, vcan0)"},
        {"nosuch0", system_view(true, false, nullptr, {}),
         "no such interface: nosuch0 (no CAN interfaces)"},
        {"lo", system_view(true, true, nullptr, {"can0"}), "lo is not a CAN FD interface"},
        {"can0", system_view(true, true, &can0, {"can0"}),
         "can0 is down: sudo ip link set can0 up type can bitrate 500000 dbitrate 2000000 fd on"},
        {"vcan0", system_view(true, true, &vcan0, {"vcan0"}),
         "vcan0 is down: sudo ip link set vcan0 mtu 72 up"},
        {"can1", system_view(true, true, &classic, {"can1"}), "can1 is not a CAN FD interface"},
        {"can2", system_view(true, true, &ready, {"can2"}), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(can_link_problem(c.name, c.view), c.problem) << c.name;
    }
}

TEST(NearestWord, OnlyNearEnoughWordsAreSuggested) {
    const QStringList verbs = {"info", "settings", "calibration", "firmware", "airports", "reboot"};
    const std::pair<const char*, const char*> cases[] = {
        {"SETTINGS", "settings"}, {"sttenigs", ""}, {"calib", "calibration"},
        {"fimrware", "firmware"}, {"inf", "info"},  {"xyz", ""},
        {"reboto", "reboot"},
    };
    for (const auto& [typed, nearest] : cases) {
        EXPECT_EQ(nearest_word(typed, verbs), nearest) << typed;
    }
}

TEST(CliCompletion, OffersWhatMayComeNext) {
    struct Case {
        QStringList words;
        QStringList offered;
    };
    const Case cases[] = {
        {{""},
         {"info", "settings", "calibration", "firmware", "airports", "reboot", "list", "logbook",
          "help"}},
        {{"settings", "s"}, {"show", "set"}},
        {{"help", "cal"}, {"calibration"}},
        {{"settings", "set", "map"}, {"map_view="}},
        {{"settings", "set", "termination_resistor="},
         {"termination_resistor=Enable", "termination_resistor=Disable"}},
        {{"settings", "set", "units=kph, m"},
         {"units=KPH, Meters, Fahrenheit, InHg", "units=KPH, Meters, Fahrenheit, Mbar",
          "units=KPH, Meters, Celsius, InHg", "units=KPH, Meters, Celsius, Mbar"}},
        {{"settings", "set", "vne="}, {}},
        {{"settings", "import", "f.json", "--d"}, {"--dry-run"}},
        {{"info", "--d"}, {}},
        {{"firmware", ""}, {"@files"}},
        {{"firmware", "a.bin", ""}, {}},
        {{"--trace", ""}, {"@files"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli_completions(c.words), c.offered) << c.words.join('|').toStdString();
    }
}

// A redrawn line longer than the terminal would wrap and fill the screen.
TEST(ProgressPrinterWidth, TerminalLinesAreCutToTheWidth) {
    for (const int columns : {0, 12, 30, 200}) {
        FILE* err = std::tmpfile();
        CliEnvironment env;
        env.err = err;
        env.out = err;
        CliOutput out(env, false, false);
        double now = 0.0;
        ProgressPrinter printer(&out, ProgressPrinter::Mode::Terminal, [&now]() {
            now += 1.0;
            return now;
        });
        printer.setColumns([columns]() { return columns; });
        printer.begin();
        for (uint32_t done = 0; done <= 4096; done += 1024) {
            printer.report(done, 4096, 1);
        }
        printer.finish();
        std::istringstream drawn(cli_test::slurp(err));
        std::string line;
        size_t longest = 0;
        while (std::getline(drawn, line, '\r')) {
            line = line.substr(0, line.find('\n'));
            longest = std::max(longest, line.size());
        }
        EXPECT_GT(longest, 0u);
        EXPECT_LE(longest, columns > 1 ? static_cast<size_t>(columns - 1) : 200u) << columns;
        EXPECT_EQ(longest > 29, columns == 0 || columns == 200) << columns;
    }
}

}  // namespace
