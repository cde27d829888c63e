// efis-cli's uploads against the emulated unit: the image lands, progress reads as the
// output's kind asks, Ctrl-C stops between packets, and the figures are those of the clock.
#include <QDir>
#include <cstring>
#include <fstream>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "cli/progress_printer.h"
#include "settings/settings_backup.h"
#include "tests/cli/cli_test_support.h"

namespace {

using cli_test::CliResult;
using cli_test::FakeClock;
using cli_test::run_cli;

constexpr uint32_t kBank1 = FW_BANK1_START_BLOCK * 0x10000u;

std::vector<uint8_t> firmware_image(uint32_t data_size) {
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = 0x45464953;
    h.total_size = data_size;
    h.plaintext_size = data_size;
    h.encrypted_size = data_size;
    h.offset = 64;
    std::vector<uint8_t> out(sizeof(h));
    std::memcpy(out.data(), &h, sizeof(h));
    for (uint32_t i = 0; i < data_size; ++i) {
        out.push_back(static_cast<uint8_t>(i * 13 + (i >> 9)));
    }
    return out;
}

class CliUpload : public ::testing::TestWithParam<emu::Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
        path = cli_test::temp_path("fw.bin");
        image = firmware_image(200 * 1024);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    void TearDown() override {
        std::remove(path.c_str());
        emu_hid::reset();
    }

    std::string path;
    std::vector<uint8_t> image;
    std::atomic<bool> cancel{false};
};

TEST_P(CliUpload, FirmwareFromANonTerminalPrintsPlainLinesAndLands) {
    FakeClock clock;
    clock.step = 0.05;
    const CliResult r = run_cli({"firmware", QString::fromStdString(path)}, &cancel, &clock);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(emu_hid::unit().flash_read(kBank1, static_cast<uint32_t>(image.size())), image);
    EXPECT_NE(r.out.find("Firmware update completed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Settings backed up to " + settings_backup_dir().toStdString()),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    // Each stage's first and last report, and a line every five seconds of the clock.
    EXPECT_TRUE(cli_test::found(r.err, ("Erasing: block 1 of 4 \\(25%\\)\n"))) << r.err;
    EXPECT_NE(r.err.find("Writing: 200.0 KiB of 200.0 KiB (100%)"), std::string::npos) << r.err;
    const auto writes = std::count(r.err.begin(), r.err.end(), 'W');
    EXPECT_GE(writes, 3);
    EXPECT_LE(writes, 3 + static_cast<long>(image.size() / 64 * 0.05 * 2 / 5.0));
}

TEST_P(CliUpload, TerminalRedrawsOneLineInPlace) {
    FakeClock clock;
    clock.step = 0.001;
    const CliResult r =
        run_cli({"airports", QString::fromStdString(path)}, &cancel, &clock, /*terminal=*/true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(std::count(r.err.begin(), r.err.end(), '\r'), 5);
    // The redrawn line ends with one newline once the upload is over.
    EXPECT_TRUE(cli_test::found(r.err, ("\rWriting: [^\r\n]*\\(100%\\)[^\r\n]*\n"))) << r.err;
    EXPECT_NE(r.out.find("Airport database transfer finished"), std::string::npos);
}

TEST_P(CliUpload, JsonStreamHasBeginProgressAndResult) {
    FakeClock clock;
    clock.step = 0.3;
    const CliResult r =
        run_cli({"--json", "firmware", QString::fromStdString(path)}, &cancel, &clock);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> events = r.events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front()["event"].toString(), "begin");
    EXPECT_EQ(events.front()["verb"].toString(), "firmware");
    EXPECT_EQ(events.back()["event"].toString(), "result");
    EXPECT_EQ(events.back()["exit_status"].toInt(), 0);
    bool write_done = false;
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i]["event"].toString(), "progress");
        if (events[i]["stage"].toString() == "write" &&
            events[i]["done"].toDouble() == events[i]["total"].toDouble()) {
            write_done = true;
            EXPECT_EQ(events[i]["percent"].toInt(), 100);
            EXPECT_GT(events[i]["rate_per_second"].toDouble(), 0.0);
        }
    }
    EXPECT_TRUE(write_done);
}

TEST_P(CliUpload, CtrlCStopsBetweenPacketsAndLeavesTheLinkIdle) {
    FakeClock clock;
    clock.step = 0.01;
    int reads = 0;
    // "Ctrl-C" a few hundred packets into the write stage.
    clock.on_read = [&](double) {
        if (++reads == 400) {
            cancel = true;
        }
    };
    const CliResult r =
        run_cli({"--json", "firmware", QString::fromStdString(path)}, &cancel, &clock);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("firmware update cancelled"), std::string::npos) << r.err;
    const std::vector<QJsonObject> events = r.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["exit_status"].toInt(), 5);
    EXPECT_TRUE(events.back()["bank_incomplete"].toBool());
    const std::vector<uint8_t> written = emu_hid::unit().flash_read(
        kBank1 + 64 * 300, static_cast<uint32_t>(image.size()) - 64 * 300);
    EXPECT_NE(written, std::vector<uint8_t>(image.begin() + 64 * 300, image.end()));

    // Nothing is left in flight: the next command is answered at once.
    cancel = false;
    EXPECT_EQ(run_cli({"info"}, &cancel).status, 0);
}

TEST_P(CliUpload, ImageTooLargeForTheBankIsAFileRefusal) {
    const std::vector<uint8_t> big = firmware_image(FW_BANK_NUM_BLOCKS * 0x10000u);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(big.data()), static_cast<std::streamsize>(big.size()));
    const CliResult r = run_cli({"firmware", QString::fromStdString(path)}, &cancel);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("refused: the image does not fit its flash bank"), std::string::npos)
        << r.err;
    EXPECT_EQ(emu_hid::open_count(), 0u);  // refused before the unit was reached
}

TEST_P(CliUpload, UnitThatStopsAnsweringFailsTheUpload) {
    emu::Fault silent;
    silent.no_answer = true;
    silent.answer = emu::AnswerKind::FlashAck;
    silent.skip_first = 10;
    emu_hid::unit().set_fault(GetParam() == emu::Generation::Current ? 0x420 : 0x415, silent);
    const CliResult r = run_cli({"--quiet", "firmware", QString::fromStdString(path)}, &cancel);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(cli_test::found(r.err, ("\\Aefis-cli: firmware update failed: [^\n]+\n\\z")))
        << r.err;
}

// Nothing is sent without a backup unless --no-backup says so; a value the load missed is
// asked for again, and the backup holds it as the unit does, or is not written.
TEST_P(CliUpload, FirmwareWithoutABackupIsRefusedUnlessAsked) {
    struct Case {
        const char* data_home;  // where backups go (null: the test's own folder)
        int silent_element;     // whose reply is withheld (-1: none)
        int silent_times;       // how often (-1: from then on)
        bool no_backup;
        int status;
    };
    const Case cases[] = {{"/dev/null/efis", -1, 0, false, 4},
                          {"/dev/null/efis", -1, 0, true, 0},
                          {nullptr, SETTINGS_LAST_INDEX - 1, -1, false, 4},
                          {nullptr, VNE_INDEX, 1, false, 0}};
    const QByteArray data_home = qgetenv("XDG_DATA_HOME");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.silent_element);
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
        emu::Fault silent;
        silent.no_answer = c.silent_element >= 0;
        silent.answer = emu::AnswerKind::Reply;
        silent.skip_first = 4 + static_cast<uint32_t>(c.silent_element);  // the header first
        silent.times = c.silent_times;
        emu_hid::unit().set_fault(GetParam() == emu::Generation::Current ? 0x370 : 0x376, silent);
        qputenv("XDG_DATA_HOME", c.data_home != nullptr ? c.data_home : data_home.constData());
        QStringList args = {"firmware", QString::fromStdString(path)};
        if (c.no_backup) {
            args << "--no-backup";
        }
        const CliResult r = run_cli(args, &cancel);
        qputenv("XDG_DATA_HOME", data_home);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(emu_hid::unit().flash_read(kBank1, static_cast<uint32_t>(image.size())) == image,
                  c.status == 0);
        const size_t at = r.out.find("Settings backed up to ");
        EXPECT_EQ(at != std::string::npos, c.status == 0 && !c.no_backup) << r.out;
        if (at != std::string::npos) {
            const size_t from = at + std::strlen("Settings backed up to ");
            const SettingsFileRead read = settings_file_read(
                QString::fromStdString(r.out.substr(from, r.out.find('\n', from) - from)));
            Settings_t unit = emu_hid::unit().settings();
            EXPECT_EQ(std::memcmp(&read.file.record, &unit, sizeof(unit)), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, CliUpload,
                         ::testing::Values(emu::Generation::Current, emu::Generation::Legacy),
                         [](const auto& info) {
                             return std::string(info.param == emu::Generation::Current ? "Current"
                                                                                       : "Legacy");
                         });

// The figures of a progress line come from the clock the printer is given.
TEST(ProgressLine, ReadsFromTheMeter) {
    struct Case {
        int phase;
        uint64_t total;
        std::vector<std::pair<double, uint64_t>> reports;  // (time, done)
        const char* line;
    };
    const Case cases[] = {
        {0, 64, {{0.0, 0}, {1.0, 16}}, "Erasing: block 16 of 64 (25%), 0:03 left"},
        {0, 64, {{0.0, 0}, {0.2, 1}}, "Erasing: block 1 of 64 (1%)"},
        {1,
         4u << 20,
         {{0.0, 0}, {10.0, 1536u << 10}},
         "Writing: 1.50 MiB of 4.00 MiB (37%), 153.6 KiB/s, 0:17 left"},
        {1, 1000, {{0.0, 0}, {2.0, 1000}}, "Writing: 1000 B of 1000 B (100%), 500 B/s"},
        // The rate is that of the last five seconds, not of the whole stage.
        {1,
         100000,
         {{0.0, 0}, {5.0, 500}, {10.0, 50500}},
         "Writing: 49.3 KiB of 97.7 KiB (50%), 9.8 KiB/s, 0:05 left"},
    };
    for (const Case& c : cases) {
        TransferMeter meter;
        meter.start(c.total, c.reports.front().first);
        for (const auto& [t, done] : c.reports) {
            meter.update(done, t);
        }
        EXPECT_EQ(ProgressPrinter::line(c.phase, meter), c.line);
    }
    EXPECT_EQ(duration_text(3725.2), "1:02:06");
    EXPECT_EQ(duration_text(-1.0), "0:00");
    EXPECT_EQ(byte_count_text(1023), "1023 B");
}

}  // namespace
