// efis-cli's verbs against the emulated unit of both generations: what each prints, what it
// sends and leaves on the unit, and every exit status.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/crc.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/get_set.h"
#include "settings/settings_file.h"
#include "tests/cli/cli_test_support.h"
#include "tests/full_disk.h"

namespace {

using cli_test::CliResult;
using cli_test::run_cli;
using cli_test::temp_path;

struct Generation {
    const char* name;
    emu::Generation gen;
    uint32_t set_id;
    uint32_t save_id;
    const char* generation_text;
};

const Generation kGenerations[] = {
    {"Current", emu::Generation::Current, 0x390, 0x3A0, "current"},
    {"Legacy", emu::Generation::Legacy, 0x378, 0x379, "legacy"},
};

class CliTest : public ::testing::TestWithParam<Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam().gen);
        emu_hid::unit().set_serial(0x00E715C0);
    }
    void TearDown() override { emu_hid::reset(); }

    CliResult run(const QStringList& args) { return run_cli(args, &cancel); }

    // Requests of one identifier the unit received.
    static size_t received(uint32_t id) {
        size_t n = 0;
        for (const COMMS_MSG_t& m : emu_hid::unit().received()) {
            n += (m.can_ID & 0x7FF) == id ? 1 : 0;
        }
        return n;
    }

    // The load's one request for `index` goes unanswered.
    static void silenceOneRead(settings_struct_index index) {
        emu::Fault silent;
        silent.no_answer = true;
        silent.answer = emu::AnswerKind::Reply;
        silent.skip_first = 4 + index;  // the record's header words are read first
        silent.times = 1;
        emu_hid::unit().set_fault(GetParam().gen == emu::Generation::Current ? 0x370 : 0x376,
                                  silent);
    }

    std::atomic<bool> cancel{false};
};

uint32_t vne_of(const Settings_t& s) {
    return settings_get_value(const_cast<Settings_t*>(&s), VNE_INDEX);
}

TEST_P(CliTest, InfoNamesTheUnitAndTheLinks) {
    const CliResult r = run({"--link", "usb", "info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("USB HID:      answered"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("CAN FD can0:  not tried"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Serial:       0x00E715C0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("Generation:   ") + GetParam().generation_text),
              std::string::npos);

    const std::vector<QJsonObject> events = run_cli({"--json", "info"}, &cancel).events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["event"].toString(), "begin");
    EXPECT_EQ(events[0]["link"].toString(), "usbhid");
    EXPECT_EQ(events[1]["event"].toString(), "result");
    EXPECT_EQ(events[1]["exit_status"].toInt(), 0);
    EXPECT_EQ(events[1]["usb"].toString(), "answered");
    EXPECT_EQ(events[1]["serial_number"].toString(), "0x00e715c0");
    EXPECT_EQ(events[1]["generation"].toString(), GetParam().generation_text);
}

TEST_P(CliTest, ShowListsEverySettingWithItsWordAndTheCrc) {
    Settings_t s = emu_hid::unit().settings();
    uint32_t vne = 0xC8;
    settings_set_value(&s, VNE_INDEX, &vne);
    s.crc32 = settings_CalcCRC(&s);
    emu_hid::unit().set_settings(s);

    const CliResult r = run({"settings", "show"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(cli_test::found(r.out, ("\nvne +200 +0x000000c8\n"))) << r.out;
    EXPECT_NE(
        r.out.find("CRC " + QStringLiteral("0x%1").arg(s.crc32, 8, 16, QChar('0')).toStdString() +
                   " checks"),
        std::string::npos)
        << r.out;

    const std::vector<QJsonObject> events =
        run_cli({"settings", "show", "--json"}, &cancel).events();
    ASSERT_EQ(events.size(), 2u);
    const QJsonObject result = events[1];
    EXPECT_TRUE(result["crc_matches"].toBool());
    const QJsonArray settings = result["settings"].toArray();
    ASSERT_EQ(settings.size(), 34);
    EXPECT_EQ(settings[6].toObject()["name"].toString(), "vne");
    EXPECT_EQ(settings[6].toObject()["value"].toString(), "200");
    EXPECT_EQ(settings[6].toObject()["raw"].toArray()[0].toString(), "0x000000c8");
    EXPECT_EQ(settings[11].toObject()["raw"].toArray().size(), 3);  // the registration
}

// A registration holding an escape sequence, a bell and a C1 escape (0x9B) must not act on
// the terminal that shows it; a pipe gets the characters as they are.
TEST_P(CliTest, TextFromTheUnitIsEscapedOnATerminal) {
    Settings_t s = emu_hid::unit().settings();
    const uint32_t registration[] = {0x1B5B3331, 0x6D07419B, 0x32410000};
    for (int i = 0; i < 3; ++i) {
        uint32_t word = registration[i];
        settings_set_value(&s, static_cast<settings_struct_index>(REGISTRATION_1_INDEX + i), &word);
    }
    s.crc32 = settings_CalcCRC(&s);
    emu_hid::unit().set_settings(s);

    const std::string shown = run_cli({"settings", "show"}, &cancel, nullptr, true).out;
    EXPECT_NE(shown.find("\\x1B[31m\\x07A\\x9B2A "), std::string::npos) << shown;
    EXPECT_EQ(shown.find_first_of("\x1B\x07"), std::string::npos) << shown;
    EXPECT_NE(run({"settings", "show"})
                  .out.find("\x1B[31m\x07"
                            "A"),
              std::string::npos);
}

TEST_P(CliTest, ShowSaysWhenTheCrcDoesNotCheckOrAValueIsMissing) {
    Settings_t s = emu_hid::unit().settings();
    s.crc32 ^= 1;
    emu_hid::unit().set_settings(s);
    CliResult r = run({"settings", "show"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("CRC does not check"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("warning: the record's CRC does not check"), std::string::npos);

    silenceOneRead(VNE_INDEX);
    r = run({"settings", "show"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(cli_test::found(r.out, ("\nvne +\\(could not be read\\)"))) << r.out;
    EXPECT_NE(r.err.find("1 value(s) could not be read: vne"), std::string::npos) << r.err;
}

TEST_P(CliTest, SetSendsOnlyTheNamedValuesAndSavesOnlyWhenAsked) {
    const uint32_t stores = emu_hid::unit().store_count();
    CliResult r = run({"settings", "set", "vne=170", "map_view=Track Up"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received(GetParam().set_id), 2u);
    EXPECT_EQ(vne_of(emu_hid::unit().settings()), 170u);
    EXPECT_EQ(emu_hid::unit().store_count(), stores);
    EXPECT_NE(r.out.find("-> 170"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not saved"), std::string::npos);

    emu_hid::unit().clear_received();
    r = run({"settings", "set", "vne=0xb4", "--save"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received(GetParam().set_id), 1u);
    EXPECT_EQ(vne_of(emu_hid::unit().settings()), 180u);
    EXPECT_EQ(emu_hid::unit().store_count(), stores + 1);  // the unit checked the CRC
    EXPECT_NE(r.out.find("Saved on the unit"), std::string::npos);
}

TEST_P(CliTest, SetRefusedByTheUnitFailsAndDoesNotSave) {
    emu::Fault refuse;
    refuse.refuse = true;
    emu_hid::unit().set_fault(GetParam().set_id, refuse);
    const CliResult r = run({"--json", "settings", "set", "vne=170", "--save"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the unit did not take vne"), std::string::npos) << r.err;
    EXPECT_EQ(received(GetParam().save_id), 0u);
    const std::vector<QJsonObject> events = r.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["exit_status"].toInt(), 1);
    EXPECT_FALSE(events.back()["saved"].toBool());
}

TEST_P(CliTest, ExportThenDryRunImportOfAnUnchangedUnitFindsNoDifferences) {
    const std::string file = temp_path("unchanged.json");
    CliResult r = run({"settings", "export", QString::fromStdString(file)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = cli_test::read_file(file);
    EXPECT_NE(text.find("\"format\": \"efis-config-settings\""), std::string::npos);
    EXPECT_NE(text.find("\"calibration\""), std::string::npos);

    emu_hid::unit().clear_received();
    r = run({"settings", "import", QString::fromStdString(file), "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no differences"), std::string::npos) << r.out;
    EXPECT_EQ(received(GetParam().set_id), 0u);
    std::remove(file.c_str());
}

// "-" and the system's name for standard output take the file alone; "-" reads one back.
TEST_P(CliTest, ExportToStandardOutputAndImportFromStandardInput) {
    for (const char* name : {"-", "/dev/stdout"}) {
        const CliResult r = run({"--json", "settings", "export", name});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(settings_file_decode(QByteArray::fromStdString(r.out)).ok) << r.out;
        EXPECT_NE(r.err.find("\"event\":\"result\""), std::string::npos) << r.err;
        FILE* in = std::tmpfile();
        std::fputs(r.out.c_str(), in);
        std::rewind(in);
        const CliResult back = run_cli({"settings", "import", "-"}, &cancel, nullptr, false, in);
        std::fclose(in);
        EXPECT_NE(back.out.find("holds the same settings as the unit"), std::string::npos)
            << back.err;
    }
}

// A disk with room for efis-cli's own lines, not for the export.
TEST_P(CliTest, ExportThatCannotBeWrittenExitsFourAndKeepsTheEarlierFile) {
    const std::string file = temp_path("full.json");
    std::ofstream(file) << "earlier\n";
    CliResult r;
    {
        FullDisk full(2048);
        r = run({"settings", "export", QString::fromStdString(file)});
    }
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("could not write " + file + ": " + std::strerror(EFBIG)),
              std::string::npos)
        << r.err;
    EXPECT_EQ(cli_test::read_file(file), "earlier\n");
    std::remove(file.c_str());
}

TEST_P(CliTest, ImportSendsTheDifferencesItIsAllowedTo) {
    const std::string file = temp_path("import.json");
    ASSERT_EQ(run({"settings", "export", QString::fromStdString(file)}).status, 0);
    const Settings_t original = emu_hid::unit().settings();
    ASSERT_EQ(run({"settings", "set", "vne=201", "vs0=44", "registration=ZK-XYZ"}).status, 0);
    emu_hid::unit().clear_received();

    // A dry run shows the three and sends nothing.
    CliResult r = run({"settings", "import", QString::fromStdString(file), "--dry-run"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(cli_test::found(r.out, ("\nvne +201 +" + std::to_string(vne_of(original)))))
        << r.out;
    EXPECT_NE(r.out.find("nothing sent (3 setting(s) would be)"), std::string::npos) << r.out;
    EXPECT_EQ(received(GetParam().set_id), 0u);

    // --only takes one of them.
    r = run({"settings", "import", QString::fromStdString(file), "--only", "vs0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received(GetParam().set_id), 1u);
    EXPECT_EQ(vne_of(emu_hid::unit().settings()), 201u);

    // The rest, saved.
    r = run({"--json", "settings", "import", QString::fromStdString(file), "--save"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Settings_t now = emu_hid::unit().settings();
    EXPECT_EQ(std::memcmp(now.registration, original.registration, sizeof(now.registration)), 0);
    EXPECT_EQ(vne_of(now), vne_of(original));
    const std::vector<QJsonObject> events = r.events();
    EXPECT_TRUE(events.back()["saved"].toBool());
    EXPECT_EQ(events.back()["sent"].toInt(), 2);
    std::remove(file.c_str());
}

// A value the load missed is a zero in the record: a file is not compared with it.
TEST_P(CliTest, ImportRefusedWhileAValueIsUnread) {
    const std::string file = temp_path("whole.json");
    ASSERT_EQ(run({"settings", "export", QString::fromStdString(file)}).status, 0);
    ASSERT_EQ(run({"settings", "set", "termination_resistor=Disable"}).status, 0);
    silenceOneRead(TERM_RESISTOR_INDEX);
    emu_hid::unit().clear_received();
    const CliResult r = run({"settings", "import", QString::fromStdString(file)});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("1 value(s) could not be read"), std::string::npos) << r.err;
    EXPECT_EQ(received(GetParam().set_id), 0u);
    std::remove(file.c_str());
}

// Ctrl-C while values are being sent: the one on its way is finished, the rest are not sent,
// and the user is told which is which.
TEST_P(CliTest, StopWhileSendingNamesWhatWasSent) {
    emu::Fault slow;
    slow.delay_ms = 600;  // time enough for the stop to arrive while the first is answered
    slow.times = 1;
    emu_hid::unit().set_fault(GetParam().set_id, slow);
    std::thread stopper([this]() {
        for (int i = 0; i < 5000 && received(GetParam().set_id) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        cancel = true;
    });
    const CliResult r = run({"settings", "set", "vs0=44", "vne=170", "--save"});
    stopper.join();
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("stopped: sent vs0; not sent: vne; nothing was saved"), std::string::npos)
        << r.err;
    EXPECT_EQ(emu_hid::unit().settings().vspeeds.Vs0, 44u);
    EXPECT_NE(vne_of(emu_hid::unit().settings()), 170u);
    EXPECT_EQ(received(GetParam().save_id), 0u);
}

TEST_P(CliTest, ImportFromAnotherUnitLeavesItsIdentityUnlessNamed) {
    const std::string file = temp_path("other.json");
    ASSERT_EQ(run({"settings", "set", "registration=OTHER1", "vne=199"}).status, 0);
    ASSERT_EQ(run({"settings", "export", QString::fromStdString(file)}).status, 0);
    ASSERT_EQ(run({"settings", "set", "registration=MINE1", "vne=150"}).status, 0);
    emu_hid::unit().set_serial(0x00AB0001);

    CliResult r = run({"settings", "import", QString::fromStdString(file)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning:"), std::string::npos);  // another serial number
    EXPECT_NE(r.out.find("another unit's identity"), std::string::npos) << r.out;
    EXPECT_EQ(vne_of(emu_hid::unit().settings()), 199u);
    EXPECT_NE(run({"settings", "show"}).out.find("MINE1"), std::string::npos);

    r = run({"settings", "import", QString::fromStdString(file), "--only", "registration"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(run({"settings", "show"}).out.find("OTHER1"), std::string::npos);
    std::remove(file.c_str());
}

TEST_P(CliTest, CalibrationExportWritesTheRecordAndSendsNoWrite) {
    const std::string file = temp_path("calibration.json");
    const CliResult r = run({"calibration", "export", QString::fromStdString(file)});
    EXPECT_EQ(r.status, 0) << r.err;
    const QJsonObject doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(cli_test::read_file(file))).object();
    EXPECT_EQ(doc["format"].toString(), "efis-config-calibration");
    EXPECT_EQ(doc["header"].toObject()["serial_number"].toInt(), 0x00E715C0);
    EXPECT_FALSE(doc["header"].toObject().contains("magic"));
    EXPECT_EQ(doc["calibration"].toObject().size(), 65);
    EXPECT_FALSE(doc.contains("settings"));
    std::remove(file.c_str());
}

TEST_P(CliTest, RebootSendsTheBootLoaderRequest) {
    const CliResult r = run({"reboot", "--no-wait"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(emu_hid::unit().reboot_count(), 1u);
    EXPECT_NE(r.out.find("Reboot command sent to device"), std::string::npos);
}

TEST_P(CliTest, TraceHoldsEveryFrameInCandumpForm) {
    const std::string trace = temp_path("trace.log");
    emu_hid::clear_output_reports();
    const CliResult r = run({"--trace", QString::fromStdString(trace), "settings", "show"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::vector<uint8_t>> sent = emu_hid::output_reports();
    std::istringstream lines(cli_test::read_file(trace));
    std::string line;
    size_t count = 0;
    size_t next_sent = 0;
    const QRegularExpression form(
        QStringLiteral("\\A\\([0-9]+\\.[0-9]{6}\\) usbhid ([0-9A-F]{3}##0[0-9A-F]*)\\z"));
    while (std::getline(lines, line)) {
        ++count;
        const QRegularExpressionMatch m = form.match(QString::fromStdString(line));
        ASSERT_TRUE(m.hasMatch()) << line;
        if (next_sent < sent.size()) {
            // The report: ID 5, can_ID little-endian, length code, payload.
            const std::vector<uint8_t>& report = sent[next_sent];
            QString expected =
                QStringLiteral("%1##0").arg(report[1] | report[2] << 8, 3, 16, QLatin1Char('0'));
            const size_t length = std::min<size_t>(
                can_msg_payload_len(static_cast<CAN_MSG_LEN_t>(report[5])), report.size() - 6);
            for (size_t i = 0; i < length; ++i) {
                expected += QStringLiteral("%1").arg(report[6 + i], 2, 16, QLatin1Char('0'));
            }
            if (m.captured(1) == expected.toUpper()) {
                ++next_sent;
            }
        }
    }
    EXPECT_EQ(next_sent, sent.size());  // every request, in order
    // One answer to each, but a legacy unit ignores the current identification request.
    EXPECT_EQ(count, 2 * sent.size() - (GetParam().gen == emu::Generation::Legacy ? 1 : 0));
    std::remove(trace.c_str());
}

INSTANTIATE_TEST_SUITE_P(Generations, CliTest, ::testing::ValuesIn(kGenerations),
                         [](const auto& info) { return std::string(info.param.name); });

// Bad command lines and files: one line naming the problem, the status, nothing sent.
TEST(CliRefusals, NothingReachesTheUnit) {
    const std::string bad_json = temp_path("bad.json");
    const std::string empty = temp_path("empty.bin");
    const std::string big = temp_path("big.json");
    {
        QFile f(QString::fromStdString(bad_json));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"format\": \"efis-config-settings\",");
        QFile e(QString::fromStdString(empty));
        ASSERT_TRUE(e.open(QIODevice::WriteOnly));
        QFile b(QString::fromStdString(big));
        ASSERT_TRUE(b.open(QIODevice::WriteOnly));
        b.write(QByteArray(1024 * 1024 + 1, ' '));
    }
    const QString bad = QString::fromStdString(bad_json);
    struct Case {
        QStringList args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{}, 2, "no verb given"},
        {{"frobnicate"}, 2, "unknown verb 'frobnicate'"},
        {{"settings"}, 2, "'settings' needs a subcommand"},
        {{"settings", "erase"}, 2, "unknown subcommand 'settings erase'"},
        {{"--bogus", "info"}, 2, "unknown option '--bogus'"},
        {{"info", "extra"}, 2, "'info' takes no arguments"},
        {{"settings", "set"}, 2, "needs at least one NAME=VALUE"},
        {{"firmware"}, 2, "'firmware' needs one FILE"},
        {{"settings", "set", "vne"}, 2, "'vne' is not NAME=VALUE"},
        {{"settings", "set", "nosuch=1"}, 2, "unknown setting 'nosuch'"},
        {{"settings", "set", "vne=256"}, 2, "vne: \"256\" is not a whole number from 0 to 255"},
        {{"settings", "set", "vne=0x100"}, 2, "vne: 0x00000100 is out of range"},
        {{"settings", "set", "max_volts_warning=0x10000"}, 2, "out of range"},
        {{"settings", "set", "backlight_brightness=200"},
         2,
         "efis-cli: backlight_brightness: 200 is out of range (0 to 21)\n"},
        {{"settings", "set", "registration=TWELVECHARS1"}, 2, "registration: "},
        {{"settings", "set", "vne=1", "vne=2"}, 2, "vne is given twice"},
        {{"info", "--save"}, 2, "--save is not an option of 'info'"},
        {{"--link", "wifi", "info"}, 2, "--link must be auto, usb or can, not 'wifi'"},
        {{"--can-interface", "a/b", "info"}, 2, "not a network interface name"},
        {{"settings", "import", bad, "--dry-run", "--save"}, 2, "cannot go with it"},
        {{"settings", "import", bad, "--only", "nosuch"}, 2, "--only: unknown setting 'nosuch'"},
        {{"settings", "import", bad}, 4, "refused: "},
        {{"settings", "import", QString::fromStdString(big)}, 4, "refused: "},
        {{"settings", "import", "/nonexistent/x.json"}, 4, "refused: Cannot open"},
        {{"firmware", "/nonexistent/fw.bin"}, 4, "refused: cannot read the file"},
        {{"airports", QString::fromStdString(empty)}, 4, "refused: the file is empty"},
        {{"settings", "export", "/nonexistent/dir/out.json"}, 4, "no writable directory"},
        {{"--trace", "/nonexistent/dir/t.log", "info"}, 4, "/nonexistent/dir/t.log"},
    };
    for (const Case& c : cases) {
        emu_hid::reset();
        std::atomic<bool> cancel{false};
        const CliResult r = run_cli(c.args, &cancel);
        const std::string args = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(emu_hid::open_count(), 0u) << args;
    }
    emu_hid::reset();
    std::remove(bad_json.c_str());
    std::remove(empty.c_str());
    std::remove(big.c_str());
}

TEST(CliRefusals, NoUnitAnsweringExitsThree) {
    emu_hid::reset();
    emu_hid::set_interfaces({});
    std::atomic<bool> cancel{false};
    const CliResult r =
        run_cli({"--json", "--can-interface", "slcan0", "settings", "show"}, &cancel);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no unit answered on USB HID or CAN FD (slcan0)"), std::string::npos)
        << r.err;
    const std::vector<QJsonObject> events = r.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["event"].toString(), "result");
    EXPECT_EQ(events[0]["exit_status"].toInt(), 3);
    emu_hid::reset();
}

TEST(CliHelp, EveryVerbHasHelpAndTheExitStatusesAreListed) {
    std::atomic<bool> cancel{false};
    const CliResult all = run_cli({"--help"}, &cancel);
    EXPECT_EQ(all.status, 0);
    for (const char* text :
         {"efis-cli info", "settings show", "settings set NAME=VALUE", "settings export FILE",
          "settings import FILE", "calibration export", "firmware FILE", "airports FILE", "reboot",
          "--trace FILE", "5  cancelled"}) {
        EXPECT_NE(all.out.find(text), std::string::npos) << text;
    }
    const CliResult one = run_cli({"settings", "import", "--help"}, &cancel);
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.out.find("Usage: efis-cli [OPTIONS] settings import FILE"), std::string::npos);
    EXPECT_NE(one.out.find("--dry-run"), std::string::npos);
    const CliResult version = run_cli({"--version"}, &cancel);
    EXPECT_TRUE(cli_test::found(version.out, ("\\Aefis-cli [0-9]+\\.[0-9]+\\.[0-9]+\n\\z")))
        << version.out;
}

}  // namespace
