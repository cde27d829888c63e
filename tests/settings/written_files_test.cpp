// The files the tool writes hold exactly what they say or the write says why not: a full disk
// leaves the earlier file as it was, a device or a pipe is written in place and not replaced,
// and pruning never takes the backup just written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "comms/candump_log.h"
#include "settings/settings_backup.h"
#include "settings/settings_file.h"

namespace {

SettingsFile sampleFile() {
    SettingsFile f;
    f.header.tool_version = QStringLiteral("0.1.0");
    f.header.written = QDateTime(QDate(2025, 1, 31), QTime(12, 34, 56), Qt::UTC);
    f.header.serial_number = 0x00C0FFEE;
    f.record.magic = SETTINGS_MAGIC_VALUE;
    f.record.version = 3;
    f.record.num_elements = 31;
    f.record.vspeeds.Vne = 160;
    f.calibration = SENSOR_CALIB_t{};
    return f;
}

// What is at the written path beforehand.
enum class Target { Nothing, EarlierFile, Fifo, DeviceNode, NewerBackups };
enum class Writer { Settings, Calibration, Backup, Trace };

struct Case {
    const char* name;
    Writer writer;
    Target target;
    bool full_disk;  // the file size limit is 0, as on a disk with no room left
};

const Case kCases[] = {
    {"FullDiskKeepsTheEarlierExport", Writer::Settings, Target::EarlierFile, true},
    {"FullDiskKeepsTheEarlierCalibration", Writer::Calibration, Target::EarlierFile, true},
    {"FullDiskFailsTheBackup", Writer::Backup, Target::Nothing, true},
    {"FullDiskKeepsTheEarlierTrace", Writer::Trace, Target::EarlierFile, true},
    {"PipeIsWrittenNotReplaced", Writer::Settings, Target::Fifo, false},
    {"DeviceNodeStaysADevice", Writer::Calibration, Target::DeviceNode, false},
    {"PruningKeepsTheBackupJustWritten", Writer::Backup, Target::NewerBackups, false},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const QByteArray kEarlier = "the earlier file\n";
constexpr int kKept = 20;

// A file size limit of 0 with SIGXFSZ ignored: each write beyond it fails with EFBIG.
class FullDisk {
public:
    FullDisk() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit none = saved_;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
        previous_ = signal(SIGXFSZ, SIG_IGN);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    struct rlimit saved_ {};
    sighandler_t previous_ = SIG_DFL;
};

class WrittenFiles : public ::testing::TestWithParam<Case> {};

TEST_P(WrittenFiles, HoldWhatTheySayOrSayWhyNot) {
    const Case& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SettingsFile file = sampleFile();
    const QByteArray text = c.writer == Writer::Calibration ? calibration_file_encode(file)
                                                            : settings_file_encode(file);
    const QString path = c.writer == Writer::Backup
                             ? dir.filePath(QStringLiteral("00C0FFEE-20250131T123456Z.json"))
                             : dir.filePath(QStringLiteral("unit.json"));
    const QByteArray local = QFile::encodeName(path);

    int reader = -1;
    switch (c.target) {
    case Target::Nothing:
        break;
    case Target::EarlierFile: {
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        ASSERT_EQ(earlier.write(kEarlier), kEarlier.size());
        break;
    }
    case Target::Fifo:
        ASSERT_EQ(mkfifo(local.constData(), 0600), 0) << std::strerror(errno);
        // Open for reading first, so that the writer's open does not wait for a reader; the
        // pipe's buffer takes the whole file.
        reader = open(local.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0) << std::strerror(errno);
        break;
    case Target::DeviceNode: {
        // The system's null device, made again in the test's folder (root only).
        if (mknod(local.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            GTEST_SKIP() << "cannot make a device node: " << std::strerror(errno);
        }
        const int probe = open(local.constData(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) {
            GTEST_SKIP() << "device nodes cannot be opened here: " << std::strerror(errno);
        }
        close(probe);
        break;
    }
    case Target::NewerBackups:
        // A clock that was once ahead left backups named later than the one written now.
        for (int i = 0; i < kKept; ++i) {
            QFile newer(dir.filePath(QStringLiteral("00C0FFEE-2030%1T000000Z.json").arg(1010 + i)));
            ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
        }
        break;
    }

    QString error;
    bool ok = false;
    {
        std::unique_ptr<FullDisk> full = c.full_disk ? std::make_unique<FullDisk>() : nullptr;
        switch (c.writer) {
        case Writer::Settings:
            ok = settings_file_write(path, file, &error);
            break;
        case Writer::Calibration:
            ok = calibration_file_write(path, file, &error);
            break;
        case Writer::Backup:
            ok = settings_backup_write(dir.path(), file, kKept, &error) == path;
            break;
        case Writer::Trace: {
            CandumpTrace trace;
            std::string reason;
            ok = trace.open(local.toStdString(), "can0", &reason);
            trace.tap()(TappedFrame{});
            ok = trace.close(&reason) && ok;
            error = QString::fromStdString(reason);
            break;
        }
        }
    }

    struct stat st {};
    const bool exists = stat(local.constData(), &st) == 0;
    if (c.full_disk) {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
            << error.toStdString();
        // Nothing else is left behind: no temporary file, no partial backup.
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
        EXPECT_EQ(left, c.target == Target::EarlierFile ? QStringList{QFileInfo(path).fileName()}
                                                        : QStringList{});
        if (c.target == Target::EarlierFile) {
            QFile earlier(path);
            ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
            EXPECT_EQ(earlier.readAll(), kEarlier);
        }
        return;
    }
    EXPECT_TRUE(ok) << error.toStdString();
    ASSERT_TRUE(exists);
    switch (c.target) {
    case Target::Fifo: {
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        QByteArray got(text.size() + 1, '\0');
        const ssize_t n = read(reader, got.data(), static_cast<size_t>(got.size()));
        close(reader);
        EXPECT_EQ(got.left(static_cast<int>(std::max<ssize_t>(n, 0))), text);
        break;
    }
    case Target::DeviceNode:
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(st.st_rdev, makedev(1, 3));
        break;
    default: {
        EXPECT_TRUE(S_ISREG(st.st_mode));
        QFile written(path);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), text);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), kKept);
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, WrittenFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
