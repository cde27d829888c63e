// The unit's logbook as efis-cli writes and reads it: an upload stopped half way, a torn last
// line, processes appending at once, and which logbook the 'logbook' verb shows.
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "settings/logbook.h"
#include "tests/cli/cli_test_support.h"
#include "tests/transfer/upload_file_support.h"

namespace {

using cli_test::CliResult;
using cli_test::FakeClock;
using cli_test::run_cli;

constexpr uint32_t kBank1 = FW_BANK1_START_BLOCK * 0x10000u;
constexpr uint32_t kSerial = 0x00E715C0;

// Every test writes its logbooks into a folder of its own.
class LogbookHome {
public:
    LogbookHome() : previous_(qgetenv("XDG_DATA_HOME")) {
        EXPECT_TRUE(dir_.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path()));
    }
    ~LogbookHome() { qputenv("XDG_DATA_HOME", previous_); }
    QString path(uint32_t serial) const { return logbook_path(logbook_dir(), serial); }
    void write(uint32_t serial, const QByteArray& text) const {
        QDir().mkpath(logbook_dir());
        QFile file(path(serial));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(text), text.size());
    }

private:
    QByteArray previous_;
    QTemporaryDir dir_;
};

class CliLogbookUpload : public ::testing::TestWithParam<emu::Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
        emu_hid::unit().set_serial(kSerial);
    }
    void TearDown() override { emu_hid::reset(); }

    LogbookHome home;
    std::atomic<bool> cancel{false};
};

// Stopped half way: one entry, naming the file by its hash and the bytes the unit took.
TEST_P(CliLogbookUpload, CancelledFirmwareUploadLeavesOneEntryWithTheBytesWritten) {
    const std::string path = cli_test::temp_path("logbook_fw.bin");
    const std::vector<uint8_t> image = transfer_test::firmware_image(100 * 1024, 3);
    ASSERT_TRUE(transfer_test::write_file(path, image));
    FakeClock clock;
    int reads = 0;
    clock.on_read = [&](double) {
        if (++reads == 600) {
            cancel = true;
        }
    };
    const CliResult r =
        run_cli({"firmware", QString::fromStdString(path), "--no-backup"}, &cancel, &clock);
    ASSERT_EQ(r.status, 5) << r.err;

    const LogbookRead read = logbook_read(home.path(kSerial));
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(read.entries.size(), 1u);
    const QJsonObject e = read.entries.front();
    EXPECT_EQ(e["action"].toString(), "firmware upload");
    EXPECT_EQ(e["outcome"].toString(), "cancelled");
    EXPECT_EQ(e["bank"].toString(), "BANK1");
    EXPECT_EQ(e["front_end"].toString(), "cli");
    EXPECT_EQ(e["serial_number"].toString(), "0x00E715C0");
    EXPECT_EQ(e["generation"].toString(),
              GetParam() == emu::Generation::Current ? "current" : "legacy");
    EXPECT_EQ(e["file"].toString(), QFileInfo(QString::fromStdString(path)).absoluteFilePath());
    EXPECT_EQ(e["size"].toInt(), static_cast<int>(image.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(image.data()),
                           static_cast<int>(image.size()));
    EXPECT_EQ(e["sha256"].toString(),
              QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());

    // The count is what the unit holds: the image up to it landed, the next packet did not.
    const auto written = static_cast<uint32_t>(e["bytes_written"].toDouble());
    ASSERT_GT(written, 64u);
    ASSERT_LT(written, image.size());
    EXPECT_EQ(emu_hid::unit().flash_read(kBank1, written),
              std::vector<uint8_t>(image.begin(), image.begin() + written));
    EXPECT_EQ(emu_hid::unit().flash_read(kBank1 + written, 64), std::vector<uint8_t>(64, 0xFF));
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Generations, CliLogbookUpload,
                         ::testing::Values(emu::Generation::Current, emu::Generation::Legacy),
                         [](const auto& info) {
                             return std::string(info.param == emu::Generation::Current ? "Current"
                                                                                       : "Legacy");
                         });

// A line whose write did not end is skipped and said; a broken line inside is counted.
TEST(LogbookRead, TornLastLineIsSkipped) {
    struct Case {
        const char* text;
        size_t entries;
        bool torn;
        int bad;
    };
    const Case cases[] = {
        {"", 0, false, 0},
        {"{\"n\":1}\n{\"n\":2}\n", 2, false, 0},
        {"{\"n\":1}\n{\"n\":2,\"act", 1, true, 0},
        // Cut just before its newline: whole JSON, but not a whole line.
        {"{\"n\":1}\n{\"n\":2}", 1, true, 0},
        {"{\"n\":1}\n[1]\n{\"n\":2\n{\"n\":3}\n", 2, false, 2},
    };
    LogbookHome home;
    for (const Case& c : cases) {
        home.write(1, c.text);
        const LogbookRead read = logbook_read(home.path(1));
        EXPECT_TRUE(read.ok) << c.text;
        EXPECT_EQ(read.entries.size(), c.entries) << c.text;
        EXPECT_EQ(read.torn_last, c.torn) << c.text;
        EXPECT_EQ(read.bad_lines, c.bad) << c.text;
    }

    // The next entry starts a line of its own rather than joining the torn one.
    home.write(1, "{\"n\":1}\n{\"n\":2,\"act");
    QString error;
    ASSERT_TRUE(logbook_append(home.path(1), QJsonObject{{"n", 3}}, &error)) << error.toStdString();
    const LogbookRead after = logbook_read(home.path(1));
    ASSERT_EQ(after.entries.size(), 2u);
    EXPECT_EQ(after.entries.back()["n"].toInt(), 3);
    EXPECT_EQ(after.bad_lines, 1);
    EXPECT_FALSE(after.torn_last);

    // efis-cli shows the whole entries and says what it skipped.
    home.write(kSerial,
               "{\"time\":\"2026-05-01T10:00:00.000Z\",\"action\":\"settings saved\"}\n"
               "{\"time\":\"2026-05-01T11:0");
    std::atomic<bool> cancel{false};
    const CliResult r = run_cli({"--json", "logbook", "--serial", "0x00e715c0"}, &cancel);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("was cut short"), std::string::npos) << r.err;
    const std::vector<QJsonObject> events = r.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.back()["entries"].toArray().size(), 1);
    EXPECT_EQ(events.back()["warnings"].toArray().size(), 1);
}

// Two processes appending at once: lines longer than a pipe's atomic write, each whole.
TEST(LogbookAppend, TwoProcessesAppendingAtOnceLeaveWholeLines) {
    LogbookHome home;
    const QString path = home.path(2);
    QDir().mkpath(logbook_dir());
    constexpr int kLines = 150;
    const QString pad(20000, QLatin1Char('x'));
    pid_t children[2] = {};
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            QString error;
            bool ok = true;
            for (int i = 0; i < kLines && ok; ++i) {
                ok = logbook_append(path, QJsonObject{{"writer", c}, {"n", i}, {"pad", pad}},
                                    &error);
            }
            _exit(ok ? 0 : 1);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (const pid_t child : children) {
        int status = -1;
        while (waitpid(child, &status, WNOHANG) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            usleep(10000);
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const LogbookRead read = logbook_read(path);
    EXPECT_FALSE(read.torn_last);
    EXPECT_EQ(read.bad_lines, 0);
    ASSERT_EQ(read.entries.size(), size_t{2 * kLines});
    int next[2] = {0, 0};
    for (const QJsonObject& e : read.entries) {
        const int writer = e["writer"].toInt();
        ASSERT_TRUE(writer == 0 || writer == 1);
        EXPECT_EQ(e["n"].toInt(), next[writer]++);
        EXPECT_EQ(e["pad"].toString(), pad);
    }
}

// Which logbook the verb shows, and what it refuses.
TEST(CliLogbookVerb, ChoosesTheLogbookAndFiltersByDate) {
    struct Case {
        std::vector<uint32_t> on_disk;
        QStringList args;
        int status;
        const char* expected;  // in standard output, or standard error when failing
    };
    const Case cases[] = {
        {{}, {}, 1, "no unit's logbook in "},
        {{kSerial}, {}, 0, "Logbook of unit 0x00E715C0 (2 entries)"},
        {{1, 2}, {}, 2, "2 units have a logbook (0x00000001, 0x00000002); name one with --serial"},
        {{1, 2}, {"--serial", "0x2"}, 0, "Logbook of unit 0x00000002 (2 entries)"},
        {{1}, {"--serial", "0x3"}, 1, "no logbook of unit 0x00000003"},
        {{1},
         {"--serial", "12x"},
         2,
         "--serial needs a serial number such as 0x00C0FFEE, not '12x'"},
        {{1}, {"--since", "2026-05-02"}, 0, "(1 entries)\n2026-05-03T09:00:00.000Z  import"},
        {{1}, {"--since", "2026-05-01T09:30"}, 0, "(1 entries)"},
        {{1}, {"--since", "2026-13-01"}, 2, "--since: '2026-13-01' is not a date"},
        {{1},
         {"--csv"},
         0,
         "time,serial_number,firmware,front_end,user,link,action,outcome,changes\n"
         "2026-05-01T09:00:00.000Z,,,,,,settings sent,\"failed: refused, not saved\","
         "vne 150 -> 170 refused\n"},
    };
    const QByteArray entries =
        "{\"time\":\"2026-05-01T09:00:00.000Z\",\"action\":\"settings sent\",\"outcome\":"
        "\"failed\",\"cause\":\"refused, not "
        "saved\",\"changes\":[{\"setting\":\"vne\",\"before\":\"150\","
        "\"sent\":\"170\",\"result\":\"refused\"}]}\n"
        "{\"time\":\"2026-05-03T09:00:00.000Z\",\"action\":\"import\",\"outcome\":\"completed\"}\n";
    for (const Case& c : cases) {
        LogbookHome home;
        for (const uint32_t serial : c.on_disk) {
            home.write(serial, entries);
        }
        std::atomic<bool> cancel{false};
        const CliResult r = run_cli(QStringList{"logbook"} + c.args, &cancel);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << r.err;
        const std::string& text = c.status == 0 ? r.out : r.err;
        EXPECT_NE(text.find(c.expected), std::string::npos)
            << c.args.join(' ').toStdString() << "\n"
            << text;
    }
}

}  // namespace
