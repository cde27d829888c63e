// Automatic backups of a unit's settings, one file per backup, named for the unit and the
// time, keeping the newest few of each unit.
#pragma once

#include <QString>

#include "settings/settings_exchange.h"
#include "settings/settings_file.h"

class CommsManager;

inline constexpr int kBackupsKeptPerUnit = 20;

// Where backups go: $XDG_DATA_HOME/efis-config/backups (or the platform's equivalent).
QString settings_backup_dir();

// Writes `file` as <dir>/<serial>-<UTC time>.json (the serial as eight hexadecimal digits,
// the time as yyyyMMddTHHmmssZ from the file's header) and then removes the oldest other
// backups of that unit beyond `keep`; the one just written is never removed. The path
// written, or an empty string with *error set.
QString settings_backup_write(const QString& dir, const SettingsFile& file, int keep,
                              QString* error);

// The backup of the record the unit holds, as settings_backup_write. The values `unit`'s load
// could not read are asked for once more: a backup holds only values read from the unit, so
// while any is still missing nothing is written and *error says so.
QString settings_backup_unit(CommsManager* comms, UnitRecord unit, const QString& dir, int keep,
                             QString* error);
