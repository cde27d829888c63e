// The unit's logbook: one JSON line per action that changed a unit (settings sent or saved, an
// import, an upload, a restart), kept per unit in $XDG_DATA_HOME/efis-config/logbook and
// written by both front ends once the action has ended, whatever its outcome.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"
#include "settings/settings_exchange.h"

class CommsManager;

enum class LogbookFrontEnd { Window, Cli };

// The unit an entry is about, and the link it was reached on.
struct LogbookUnit {
    uint32_t serial = 0xFFFFFFFFu;
    fwversion_t firmware{};
    bool current_generation = true;
    QString link;  // "USB HID", "CAN FD (can0)", or "" with none
};

// The unit connected through `comms` as its last handshake named it.
LogbookUnit logbook_unit(const CommsManager* comms);

// $XDG_DATA_HOME/efis-config/logbook (or the platform's equivalent).
QString logbook_dir();
// <dir>/<serial as eight upper-case hexadecimal digits>.jsonl
QString logbook_path(const QString& dir, uint32_t serial);
// The serial numbers of the logbooks in `dir`, in ascending order.
std::vector<uint32_t> logbook_serials(const QString& dir);

// Appends `entry` as one line with a single write() on a descriptor opened for appending,
// then fdatasync(): a crash loses at most this line, and another process appending at the
// same time never lands inside it. False with *error (the system's reason) otherwise.
bool logbook_append(const QString& path, const QJsonObject& entry, QString* error);

// Adds the common fields (UTC time, tool version, front end, user, the unit, its firmware,
// generation and link) to `action` and appends it to the unit's logbook in `dir`. An empty
// string, or a warning for the action's result: a logbook that cannot be written never
// undoes or refuses the action.
QString logbook_record(const QString& dir, LogbookFrontEnd front_end, const LogbookUnit& unit,
                       QJsonObject action);
// The same into logbook_dir() for the unit connected through `comms`.
QString logbook_record(LogbookFrontEnd front_end, const CommsManager* comms,
                       const QJsonObject& action);

struct LogbookRead {
    bool ok = false;  // the file could be opened (a missing file is an empty logbook)
    QString error;
    std::vector<QJsonObject> entries;  // oldest first
    bool torn_last = false;            // the last line was cut short and is skipped
    int bad_lines = 0;                 // other lines that are no JSON object, skipped
};
LogbookRead logbook_read(const QString& path);

// Entries at or after `since` (an invalid time keeps them all).
std::vector<QJsonObject> logbook_since(const std::vector<QJsonObject>& entries,
                                       const QDateTime& since);

// The entries as text for people: the action, its outcome and its changes.
QString logbook_action_text(const QJsonObject& entry);
QString logbook_outcome_text(const QJsonObject& entry);
QString logbook_changes_text(const QJsonObject& entry);
// One CSV row per entry under a header: time, serial, firmware, front end, user, link, action,
// outcome, changes.
QByteArray logbook_csv(const std::vector<QJsonObject>& entries);

// The action of an Update: each setting of `attempted` by its stable name, the value the unit
// held before and the value sent, acknowledged, refused (in `result.failed`) or not sent
// (still in `still_pending` after a stop).
QJsonObject logbook_update_action(const Settings_t& before, const Settings_t& sent,
                                  const PendingSet& attempted, const PendingSet& still_pending,
                                  const UpdateResult& result);
// An import: the update action of the values taken from the file, with its name and the
// settings taken.
QJsonObject logbook_import_action(const QString& file, const QStringList& taken,
                                  QJsonObject update);
// A Save: its outcome and, when the unit stored the record, the CRC.
QJsonObject logbook_save_action(const SaveResult& result);

// What an upload did, as its progress reports and its end told it.
struct LogbookUpload {
    bool firmware = true;  // else an airport database
    QString file;
    uint32_t partition = 0;   // the bank the unit named for a firmware image (partition_1, _2)
    uint64_t data_bytes = 0;  // bytes the unit acknowledged after a firmware image's header
    QString outcome;          // "completed", "failed" or "cancelled"
    QString cause;            // why it failed
};
// The file's name, size and SHA-256 (read now), the bank ("BANK1", "BANK2"), the bytes written
// (a firmware image's header counted once data has followed it) and the outcome.
QJsonObject logbook_upload_action(const LogbookUpload& upload);

// A restart into the boot loader: `outcome` is "came back" (with the firmware the unit came
// back with in `after`), "did not come back", "sent" (nobody waited for the unit) or "failed".
QJsonObject logbook_restart_action(const fwversion_t& before, const QString& outcome,
                                   const fwversion_t* after);
