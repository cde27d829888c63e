#include "settings/settings_backup.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

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
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
        return QString();
    }
    const QString serial = serialText(file.header.serial_number);
    const QString name =
        QStringLiteral("%1-%2.json")
            .arg(serial, file.header.written.toUTC().toString(QStringLiteral("yyyyMMddTHHmmssZ")));
    const QString path = QDir(dir).filePath(name);
    if (!settings_file_write(path, file, error)) {
        return QString();
    }
    // The time in the name sorts the backups of one unit oldest first.
    QStringList own = QDir(dir).entryList({serial + QStringLiteral("-*.json")}, QDir::Files,
                                          QDir::Name | QDir::Reversed);
    for (int i = keep; i < own.size(); ++i) {
        QFile::remove(QDir(dir).filePath(own.at(i)));
    }
    return path;
}
