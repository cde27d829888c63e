#include "settings/settings_compare.h"

#include "settings/setting_names.h"
#include "settings/word_text.h"

namespace {

QString layout_text(const Settings_t& record) {
    return QStringLiteral("magic %1, memory version %2, %3 elements")
        .arg(hex_word(record.magic))
        .arg(record.version)
        .arg(record.num_elements);
}

// The words beside a human value that reads the same for both sides.
QString with_raw(const QString& text, const std::vector<uint32_t>& words) {
    QStringList hex;
    for (const uint32_t word : words) {
        hex << hex_word(word);
    }
    const QString raw = hex.join(QLatin1Char(' '));
    return text.isEmpty() ? raw : QStringLiteral("%1 (%2)").arg(text, raw);
}

}  // namespace

QString settings_file_layout_check(const SettingsFile& file, const Settings_t& unit) {
    const Settings_t& record = file.record;
    if (record.magic == unit.magic && record.version == unit.version &&
        record.num_elements == unit.num_elements) {
        return QString();
    }
    return QStringLiteral("This file was made for another settings layout (%1); the unit has %2")
        .arg(layout_text(record), layout_text(unit));
}

QStringList settings_file_warnings(const SettingsFile& file, uint32_t unit_serial,
                                   fwversion_t unit_fw) {
    QStringList warnings;
    if (file.header.serial_number != unit_serial) {
        warnings << QStringLiteral(
                        "This file comes from the unit with serial number %1; this unit's serial "
                        "number is %2")
                        .arg(serial_text(file.header.serial_number), serial_text(unit_serial));
    }
    if (file.header.firmware.version != unit_fw.version) {
        warnings << QStringLiteral("This file was written from firmware %1; this unit runs %2")
                        .arg(firmware_version_text(file.header.firmware),
                             firmware_version_text(unit_fw));
    }
    return warnings;
}

std::vector<SettingDifference> settings_compare(const Settings_t& unit, const Settings_t& file) {
    std::vector<SettingDifference> rows;
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const std::vector<uint32_t> unitWords = setting_words(unit, s);
        const std::vector<uint32_t> fileWords = setting_words(file, s);
        if (unitWords == fileWords) {
            continue;
        }
        SettingDifference row;
        row.setting = s;
        row.name = QString::fromLatin1(settings_table()[s].name);
        row.on_unit = human_value(unit, s);
        row.in_file = human_value(file, s);
        row.identity = settings_table()[s].identity;
        if (row.on_unit == row.in_file) {
            row.on_unit = with_raw(row.on_unit, unitWords);
            row.in_file = with_raw(row.in_file, fileWords);
        }
        rows.push_back(row);
    }
    return rows;
}
