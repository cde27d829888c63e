// Automatic backups of a unit's settings, one file per backup, named for the unit and the
// time, keeping the newest few of each unit.
#pragma once

#include <QString>

#include "settings/settings_file.h"

inline constexpr int kBackupsKeptPerUnit = 20;

// Where backups go: $XDG_DATA_HOME/efis-config/backups (or the platform's equivalent).
QString settings_backup_dir();

// Writes `file` as <dir>/<serial>-<UTC time>.json (the serial as eight hexadecimal digits,
// the time as yyyyMMddTHHmmssZ from the file's header) and then removes the oldest backups of
// that unit beyond `keep`. The path written, or an empty string with *error set.
QString settings_backup_write(const QString& dir, const SettingsFile& file, int keep,
                              QString* error);
