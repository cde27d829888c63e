// A settings file held against the unit: does it fit the unit's record layout, does it come
// from this unit, and which settings differ.
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"
#include "settings/settings_file.h"

// Empty when the file's magic, memory version and element count are the unit's; otherwise
// the reason to refuse it.
QString settings_file_layout_check(const SettingsFile& file, const Settings_t& unit);

// One warning each for another serial number and another firmware version.
QStringList settings_file_warnings(const SettingsFile& file, uint32_t unit_serial,
                                   fwversion_t unit_fw);

struct SettingDifference {
    size_t setting;   // into settings_table()
    QString name;     // the setting's stable name
    QString on_unit;  // human values; the raw words are added where those read alike
    QString in_file;
    bool identity;
};

// One row per setting whose words differ, in index order.
std::vector<SettingDifference> settings_compare(const Settings_t& unit, const Settings_t& file);
