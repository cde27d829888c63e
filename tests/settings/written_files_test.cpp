// The files the tool writes hold exactly what they say or the write says why not: a full disk
// leaves the earlier file as it was, a device or a pipe is written in place and not replaced,
// pruning never takes the backup just written, and a file names the unit its record was read
// from, also once that unit is gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "comms/candump_log.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "settings/settings_backup.h"
#include "settings/unit_file.h"
#include "tests/full_disk.h"

namespace {

enum class Target { Nothing, EarlierFile, Fifo, DeviceNode, NewerBackups };  // at the path before
enum class Writer { Settings, Backup, Trace };

struct Case {
    const char* name;
    Writer writer;
    Target target;
    bool full_disk;
    bool from_unit_gone = false;  // the record of an emulated unit, disconnected since
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const Case kCases[] = {
    {"FullDiskKeepsTheEarlierExport", Writer::Settings, Target::EarlierFile, true},
    {"FullDiskFailsTheBackup", Writer::Backup, Target::Nothing, true},
    {"FullDiskKeepsTheEarlierTrace", Writer::Trace, Target::EarlierFile, true},
    {"PipeIsWrittenNotReplaced", Writer::Settings, Target::Fifo, false},
    {"DeviceNodeStaysADevice", Writer::Settings, Target::DeviceNode, false},
    {"PruningKeepsTheBackupJustWritten", Writer::Backup, Target::NewerBackups, false},
    {"FileNamesTheUnitReadFrom", Writer::Settings, Target::Nothing, false, true},
};

class WrittenFiles : public ::testing::TestWithParam<Case> {};

TEST_P(WrittenFiles, HoldWhatTheySayOrSayWhyNot) {
    const Case& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SettingsFile file;
    file.header.written = QDateTime(QDate(2025, 1, 31), QTime(12, 34, 56), Qt::UTC);
    file.header.serial_number = 0x00C0FFEE;
    emu_hid::reset();
    if (c.from_unit_gone) {
        emu_hid::unit().set_serial(0x00C0FFEE);
        CommsManager comms;
        UnitRecord unit;
        ASSERT_TRUE(comms.establish_connection());
        ASSERT_EQ(settings_load(&comms, &unit).status, LoadStatus::Ok);
        comms.disconnectAll();
        file = unit_settings_file(&comms, unit, unit.record);
    }
    const QByteArray text = settings_file_encode(file);
    const QString path = dir.filePath(QStringLiteral("00C0FFEE-20250131T123456Z.json"));
    const std::string local = QFile::encodeName(path).toStdString();
    const auto put = [](const QString& name, const QByteArray& bytes) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    };

    int reader = -1;
    if (c.target == Target::EarlierFile) {
        put(path, "earlier");
    } else if (c.target == Target::Fifo) {
        // Opened for reading first, so that the writer does not wait; the pipe holds the file.
        ASSERT_EQ(mkfifo(local.c_str(), 0600), 0);
        reader = open(local.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    } else if (c.target == Target::DeviceNode) {
        // The system's null device, made again here (root only, where nodes may be opened).
        const int probe = mknod(local.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0
                              ? open(local.c_str(), O_WRONLY | O_CLOEXEC)
                              : -1;
        if (probe < 0) {
            GTEST_SKIP() << "no device node here: " << std::strerror(errno);
        }
        close(probe);
    } else if (c.target == Target::NewerBackups) {
        // A clock that was once ahead left backups named later than the one written now.
        for (int i = 0; i < kBackupsKeptPerUnit; ++i) {
            put(dir.filePath(QStringLiteral("00C0FFEE-2030%1T000000Z.json").arg(1010 + i)), {});
        }
    }

    QString error;
    bool ok = false;
    {
        std::optional<FullDisk> full;
        if (c.full_disk) {
            full.emplace();
        }
        if (c.writer == Writer::Settings) {
            ok = settings_file_write(path, file, &error);
        } else if (c.writer == Writer::Backup) {
            ok = settings_backup_write(dir.path(), file, kBackupsKeptPerUnit, &error) == path;
        } else {
            CandumpTrace trace;
            std::string reason;
            ok = trace.open(local, "can0", &reason);
            trace.tap()(TappedFrame{});
            ok = trace.close(&reason) && ok;
            error = QString::fromStdString(reason);
        }
    }

    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
    QFile written(path);
    struct stat st {};
    emu_hid::reset();
    ASSERT_EQ(stat(local.c_str(), &st) == 0, c.target != Target::Nothing || !c.full_disk);
    if (c.full_disk) {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
            << error.toStdString();
        // No temporary file is left, and the earlier file is as it was.
        EXPECT_EQ(left.size(), c.target == Target::EarlierFile ? 1 : 0);
        EXPECT_TRUE(c.target == Target::Nothing ||
                    (written.open(QIODevice::ReadOnly) && written.readAll() == "earlier"));
        return;
    }
    EXPECT_TRUE(ok) << error.toStdString();
    if (c.target == Target::Fifo) {
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        QByteArray got(text.size() + 1, '\0');
        const ssize_t n = read(reader, got.data(), static_cast<size_t>(got.size()));
        close(reader);
        EXPECT_EQ(got.left(static_cast<int>(n)), text);
    } else if (c.target == Target::DeviceNode) {
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    } else if (c.from_unit_gone) {
        const SettingsFileRead back = settings_file_read(path);
        ASSERT_TRUE(back.ok) << back.error.toStdString();
        EXPECT_EQ(back.file.header.serial_number, 0x00C0FFEEu);
    } else {
        EXPECT_EQ(left.size(), kBackupsKeptPerUnit);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), text);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, WrittenFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
