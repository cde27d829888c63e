#include "settings/logbook.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cstring>

#include "EFIS_shared/mem_layout.h"
#include "comms/comms.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"

namespace {

const QString kTime = QStringLiteral("time");
const QString kAction = QStringLiteral("action");
const QString kOutcome = QStringLiteral("outcome");
const QString kChanges = QStringLiteral("changes");

QString serial_file_text(uint32_t serial) {
    return QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
}

QString os_user() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024] = {};
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return qEnvironmentVariable("USER", QStringLiteral("uid %1").arg(geteuid()));
}

QString system_reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The settings covering the elements, each once, in table order.
std::vector<size_t> settings_of(const PendingSet& elements) {
    std::vector<size_t> settings;
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const SettingDef& def = settings_table()[s];
        for (int i = 0; i < def.count; ++i) {
            if (elements.count(static_cast<settings_struct_index>(def.first + i)) != 0) {
                settings.push_back(s);
                break;
            }
        }
    }
    return settings;
}

bool covers_any(size_t setting, const std::vector<settings_struct_index>& elements) {
    const SettingDef& def = settings_table()[setting];
    for (const settings_struct_index index : elements) {
        if (index >= def.first && index < def.first + def.count) {
            return true;
        }
    }
    return false;
}

bool covers_any(size_t setting, const PendingSet& elements) {
    return covers_any(setting,
                      std::vector<settings_struct_index>(elements.begin(), elements.end()));
}

QString csv_field(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

LogbookUnit logbook_unit(const CommsManager* comms) {
    LogbookUnit unit;
    unit.firmware = g_whoami_fwversion;
    unit.current_generation = device_firmware_at_least_0_2_12();
    if (comms != nullptr) {
        unit.serial = comms->serialNumber();
        if (comms->isConnected()) {
            unit.link = comms->getActiveInterface() == USB_HID
                            ? QStringLiteral("USB HID")
                            : QStringLiteral("CAN FD (%1)")
                                  .arg(QString::fromStdString(comms->canInterface()));
        }
    }
    return unit;
}

QString logbook_dir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/efis-config/logbook");
}

QString logbook_path(const QString& dir, uint32_t serial) {
    return QDir(dir).filePath(serial_file_text(serial) + QStringLiteral(".jsonl"));
}

std::vector<uint32_t> logbook_serials(const QString& dir) {
    std::vector<uint32_t> serials;
    for (const QString& name :
         QDir(dir).entryList({QStringLiteral("*.jsonl")}, QDir::Files, QDir::Name)) {
        const QString base = name.chopped(6);
        bool ok = false;
        const uint32_t serial = base.toUInt(&ok, 16);
        if (ok && base.size() == 8 && logbook_path(dir, serial).endsWith(name)) {
            serials.push_back(serial);
        }
    }
    return serials;
}

bool logbook_append(const QString& path, const QJsonObject& entry, QString* error) {
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    const QByteArray local = QFile::encodeName(path);
    const int fd = ::open(local.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = system_reason(errno);
        return false;
    }
    // A line cut short by a crash is ended first, so that this entry does not join it.
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') {
        line.prepend('\n');
    }
    // One write of the whole line: with O_APPEND the kernel places it whole at the end, so a
    // short write means the disk refused the rest, and the cut line is left for the reader.
    const ssize_t written = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
    const int write_errno = errno;
    bool ok = written == static_cast<ssize_t>(line.size());
    if (!ok) {
        *error = written < 0
                     ? system_reason(write_errno)
                     : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(line.size());
    } else if (::fdatasync(fd) != 0) {
        *error = system_reason(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        *error = system_reason(errno);
        ok = false;
    }
    return ok;
}

QString logbook_record(const QString& dir, LogbookFrontEnd front_end, const LogbookUnit& unit,
                       QJsonObject action) {
    action.insert(kTime, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    action.insert(QStringLiteral("tool_version"), QStringLiteral(EFIS_VERSION));
    action.insert(QStringLiteral("front_end"), front_end == LogbookFrontEnd::Window
                                                   ? QStringLiteral("window")
                                                   : QStringLiteral("cli"));
    action.insert(QStringLiteral("user"), os_user());
    action.insert(QStringLiteral("serial_number"), serial_text(unit.serial));
    action.insert(QStringLiteral("firmware"), firmware_version_text(unit.firmware));
    action.insert(QStringLiteral("generation"),
                  unit.current_generation ? QStringLiteral("current") : QStringLiteral("legacy"));
    action.insert(QStringLiteral("link"), unit.link);
    QString error;
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("could not create the folder %1").arg(dir);
    } else if (logbook_append(logbook_path(dir, unit.serial), action, &error)) {
        return QString();
    }
    return QStringLiteral("the unit's logbook could not be written (%1)").arg(error);
}

QString logbook_record(LogbookFrontEnd front_end, const CommsManager* comms,
                       const QJsonObject& action) {
    return logbook_record(logbook_dir(), front_end, logbook_unit(comms), action);
}

LogbookRead logbook_read(const QString& path) {
    LogbookRead read;
    QFile file(path);
    if (!file.exists()) {
        read.ok = true;
        return read;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        read.error = file.errorString();
        return read;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        read.error = file.errorString();
        return read;
    }
    read.ok = true;
    const QList<QByteArray> lines = data.split('\n');
    // The text after the last newline is a line whose write did not end.
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const bool last = i == lines.size() - 1;
        if (line.isEmpty()) {
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (last) {
            read.torn_last = true;
        } else if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            ++read.bad_lines;
        } else {
            read.entries.push_back(doc.object());
        }
    }
    return read;
}

std::vector<QJsonObject> logbook_since(const std::vector<QJsonObject>& entries,
                                       const QDateTime& since) {
    std::vector<QJsonObject> kept;
    for (const QJsonObject& entry : entries) {
        const QDateTime time =
            QDateTime::fromString(entry.value(kTime).toString(), Qt::ISODateWithMs);
        if (!since.isValid() || (time.isValid() && time >= since)) {
            kept.push_back(entry);
        }
    }
    return kept;
}

QString logbook_action_text(const QJsonObject& entry) {
    const QString action = entry.value(kAction).toString();
    const QString file = entry.value(QStringLiteral("file")).toString();
    if (!file.isEmpty()) {
        return QStringLiteral("%1 (%2)").arg(action, QFileInfo(file).fileName());
    }
    return action;
}

QString logbook_outcome_text(const QJsonObject& entry) {
    const QString outcome = entry.value(kOutcome).toString();
    const QString cause = entry.value(QStringLiteral("cause")).toString();
    return cause.isEmpty() ? outcome : QStringLiteral("%1: %2").arg(outcome, cause);
}

QString logbook_changes_text(const QJsonObject& entry) {
    QStringList parts;
    for (const QJsonValue& value : entry.value(kChanges).toArray()) {
        const QJsonObject change = value.toObject();
        parts << QStringLiteral("%1 %2 -> %3 %4")
                     .arg(change.value(QStringLiteral("setting")).toString(),
                          change.value(QStringLiteral("before")).toString(),
                          change.value(QStringLiteral("sent")).toString(),
                          change.value(QStringLiteral("result")).toString());
    }
    if (entry.contains(QStringLiteral("crc"))) {
        parts << QStringLiteral("CRC %1").arg(entry.value(QStringLiteral("crc")).toString());
    }
    if (entry.contains(QStringLiteral("bytes_written"))) {
        QString upload =
            QStringLiteral("%1 of %2 bytes written")
                .arg(entry.value(QStringLiteral("bytes_written")).toVariant().toString(),
                     entry.value(QStringLiteral("size")).toVariant().toString());
        const QString bank = entry.value(QStringLiteral("bank")).toString();
        if (!bank.isEmpty()) {
            upload += QStringLiteral(" to ") + bank;
        }
        parts << upload
              << QStringLiteral("SHA-256 ") + entry.value(QStringLiteral("sha256")).toString();
    }
    if (entry.contains(QStringLiteral("firmware_before"))) {
        QString restart = QStringLiteral("firmware %1")
                              .arg(entry.value(QStringLiteral("firmware_before")).toString());
        if (entry.contains(QStringLiteral("firmware_after"))) {
            restart +=
                QStringLiteral(" -> ") + entry.value(QStringLiteral("firmware_after")).toString();
        }
        parts << restart;
    }
    return parts.join(QStringLiteral("; "));
}

QByteArray logbook_csv(const std::vector<QJsonObject>& entries) {
    QString text =
        QStringLiteral("time,serial_number,firmware,front_end,user,link,action,outcome,changes\n");
    for (const QJsonObject& e : entries) {
        const QStringList fields = {e.value(kTime).toString(),
                                    e.value(QStringLiteral("serial_number")).toString(),
                                    e.value(QStringLiteral("firmware")).toString(),
                                    e.value(QStringLiteral("front_end")).toString(),
                                    e.value(QStringLiteral("user")).toString(),
                                    e.value(QStringLiteral("link")).toString(),
                                    logbook_action_text(e),
                                    logbook_outcome_text(e),
                                    logbook_changes_text(e)};
        QStringList row;
        for (const QString& field : fields) {
            row << csv_field(field);
        }
        text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

QJsonObject logbook_update_action(const Settings_t& before, const Settings_t& sent,
                                  const PendingSet& attempted, const PendingSet& still_pending,
                                  const UpdateResult& result) {
    QJsonArray changes;
    int refused = 0;
    for (const size_t s : settings_of(attempted)) {
        QString outcome = QStringLiteral("acknowledged");
        if (covers_any(s, result.failed)) {
            outcome = QStringLiteral("refused");
            ++refused;
        } else if (covers_any(s, still_pending)) {
            outcome = QStringLiteral("not sent");
        }
        changes.append(
            QJsonObject{{QStringLiteral("setting"), QLatin1String(settings_table()[s].name)},
                        {QStringLiteral("before"), human_value(before, s)},
                        {QStringLiteral("sent"), human_value(sent, s)},
                        {QStringLiteral("result"), outcome}});
    }
    QString outcome = QStringLiteral("completed");
    if (result.cancelled) {
        outcome = QStringLiteral("cancelled");
    } else if (refused > 0) {
        outcome = QStringLiteral("failed");
    }
    QJsonObject action{
        {kAction, QStringLiteral("settings sent")}, {kOutcome, outcome}, {kChanges, changes}};
    if (refused > 0) {
        action.insert(QStringLiteral("cause"),
                      QStringLiteral("%1 value(s) refused or not answered").arg(refused));
    }
    return action;
}

QJsonObject logbook_import_action(const QString& file, const QStringList& taken,
                                  QJsonObject update) {
    update.insert(kAction, QStringLiteral("import"));
    update.insert(QStringLiteral("file"), file);
    update.insert(QStringLiteral("taken"), QJsonArray::fromStringList(taken));
    return update;
}

QJsonObject logbook_save_action(const SaveResult& result) {
    QJsonObject action{{kAction, QStringLiteral("settings saved")}};
    struct Cause {
        SaveStatus status;
        const char* text;
    };
    static const Cause causes[] = {
        {SaveStatus::NoLink, "no link to the unit"},
        {SaveStatus::EditsPending, "edits not sent yet"},
        {SaveStatus::NotLoaded, "the unit's settings were not read completely"},
        {SaveStatus::VersionReadFailed, "the unit did not answer the request for its version"},
        {SaveStatus::CountReadFailed, "the unit did not answer the request for its element count"},
        {SaveStatus::InvalidCount, "the unit reported an invalid element count"},
        {SaveStatus::StoreFailed, "the unit did not confirm the save"},
    };
    if (result.status == SaveStatus::Ok) {
        action.insert(kOutcome, QStringLiteral("completed"));
        action.insert(QStringLiteral("crc"), hex_word(result.crc));
        return action;
    }
    action.insert(kOutcome, QStringLiteral("failed"));
    for (const Cause& cause : causes) {
        if (cause.status == result.status) {
            action.insert(QStringLiteral("cause"), QLatin1String(cause.text));
        }
    }
    return action;
}

QJsonObject logbook_upload_action(const LogbookUpload& upload) {
    uint64_t written = upload.data_bytes;
    if (upload.firmware && written > 0) {
        written += sizeof(firmware_header_t);
    }
    QJsonObject action{{kAction, upload.firmware ? QStringLiteral("firmware upload")
                                                 : QStringLiteral("airport database upload")},
                       {kOutcome, upload.outcome},
                       {QStringLiteral("file"), upload.file},
                       {QStringLiteral("bytes_written"), static_cast<qint64>(written)}};
    if (upload.partition == partition_1 || upload.partition == partition_2) {
        action.insert(QStringLiteral("bank"), upload.partition == partition_1
                                                  ? QStringLiteral("BANK1")
                                                  : QStringLiteral("BANK2"));
    }
    if (!upload.cause.isEmpty()) {
        action.insert(QStringLiteral("cause"), upload.cause);
    }
    QFile file(upload.file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file)) {
        action.insert(QStringLiteral("size"), file.size());
        action.insert(QStringLiteral("sha256"), QString::fromLatin1(hash.result().toHex()));
    } else {
        action.insert(QStringLiteral("size"), QJsonValue());
        action.insert(QStringLiteral("sha256"), QJsonValue());
    }
    return action;
}

QJsonObject logbook_restart_action(const fwversion_t& before, const QString& outcome,
                                   const fwversion_t* after) {
    QJsonObject action{{kAction, QStringLiteral("restart into the boot loader")},
                       {kOutcome, outcome},
                       {QStringLiteral("firmware_before"), firmware_version_text(before)}};
    if (after != nullptr) {
        action.insert(QStringLiteral("firmware_after"), firmware_version_text(*after));
    }
    return action;
}
