// Settings files: a unit's settings record as JSON, one setting per line, with the raw word
// of every element and its value in the form's terms. The raw word is the truth; the value
// is for people and for hand edits, and counts only where the raw word is absent.
// Plain C++ with Qt Core, shared by the window and command-line tools.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "EFIS_shared/calib_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"

enum class UnitGeneration { Current, Legacy };

// Where the record came from. The record's magic, memory version and element count are
// written into the file's header too; they are the record's own words.
struct SettingsFileHeader {
    QString tool_version;
    QDateTime written;  // UTC, kept to the second; must be valid
    uint32_t serial_number = 0;
    fwversion_t firmware{};
    UnitGeneration generation = UnitGeneration::Current;
    uint32_t device_crc = 0;  // the checksum the unit reported at the load
};

struct SettingsFile {
    SettingsFileHeader header;
    // Header words and the 36 data elements; a read recomputes crc32 over them.
    Settings_t record{};
    // The calibration record, for the installer's records: shown, never written to a unit.
    std::optional<SENSOR_CALIB_t> calibration;
    std::vector<int> calibration_unread;  // indices the read did not get, written as null
};

struct SettingsFileRead {
    bool ok = false;
    QString error;         // why the file was refused, naming the line or key
    QStringList warnings;  // hand-edited values that the raw word overrules
    SettingsFile file;
};

constexpr qint64 kSettingsFileMaxSize = 1024 * 1024;

// The file's text: UTF-8 JSON, settings in index order, each on one line. Deterministic.
QByteArray settings_file_encode(const SettingsFile& file);
// Written whole or not at all (see write_file_whole); on failure *error is the system's
// reason, and any earlier file at `path` is as it was.
bool settings_file_write(const QString& path, const SettingsFile& file, QString* error);

// The calibration alone, for the installer's records: the header without the settings
// record's words, and every calibration element (null where unread). Never read back.
QByteArray calibration_file_encode(const SettingsFile& file);
bool calibration_file_write(const QString& path, const SettingsFile& file, QString* error);

// Refuses (ok false, nothing else filled) anything that is not a whole, valid settings
// file of a format version this tool knows.
SettingsFileRead settings_file_decode(const QByteArray& text);
SettingsFileRead settings_file_read(const QString& path);
// The same from an open stream (standard input), read to its end.
SettingsFileRead settings_file_read(FILE* stream);
