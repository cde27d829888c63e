#include "settings/settings_backup.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>

#include "settings/unit_file.h"

namespace {

QString serialText(uint32_t serial) {
    return QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

QString settings_backup_dir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/efis-config/backups");
}

QString settings_backup_write(const QString& dir, const SettingsFile& file, int keep,
                              QString* error) {
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("could not create the folder %1").arg(dir);
        return QString();
    }
    const QString serial = serialText(file.header.serial_number);
    const QString name =
        QStringLiteral("%1-%2.json")
            .arg(serial, file.header.written.toUTC().toString(QStringLiteral("yyyyMMddTHHmmssZ")));
    const QString path = QDir(dir).filePath(name);
    QString reason;
    if (!settings_file_write(path, file, &reason)) {
        *error = QStringLiteral("could not write %1: %2").arg(path, reason);
        return QString();
    }
    // The time in the name sorts the backups of one unit newest first. A clock that was once
    // ahead leaves newer-named ones behind: they go before the backup just written does.
    QStringList others = QDir(dir).entryList({serial + QStringLiteral("-*.json")}, QDir::Files,
                                             QDir::Name | QDir::Reversed);
    others.removeAll(name);
    for (int i = std::max(keep - 1, 0); i < others.size(); ++i) {
        QFile::remove(QDir(dir).filePath(others.at(i)));
    }
    return path;
}

QString settings_backup_unit(CommsManager* comms, UnitRecord unit, const QString& dir, int keep,
                             QString* error) {
    if (!settings_read_unknown(comms, &unit)) {
        *error =
            QStringLiteral("%1 value(s) could not be read from the unit").arg(unit.unknown.size());
        return QString();
    }
    return settings_backup_write(dir, unit_settings_file(comms, unit, unit.record), keep, error);
}
