// settings show, set, export and import.
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

#include "EFIS_shared/get_set.h"
#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/comms.h"
#include "settings/calibration_read.h"
#include "settings/file_write.h"
#include "settings/logbook.h"
#include "settings/setting_names.h"
#include "settings/settings_compare.h"
#include "settings/unit_file.h"
#include "settings/word_text.h"

namespace {

QString raw_text(const std::vector<uint32_t>& words) {
    QStringList raw;
    for (const uint32_t word : words) {
        raw << hex_word(word);
    }
    return raw.join(QLatin1Char(' '));
}

QJsonArray raw_json(const std::vector<uint32_t>& words) {
    QJsonArray raw;
    for (const uint32_t word : words) {
        raw.append(hex_word(word));
    }
    return raw;
}

bool setting_unread(const UnitRecord& unit, size_t setting) {
    const SettingDef& def = settings_table()[setting];
    for (int i = 0; i < def.count; ++i) {
        if (unit.unknown.count(static_cast<settings_struct_index>(def.first + i)) != 0) {
            return true;
        }
    }
    return false;
}

// Lines of columns, each column as wide as its widest cell.
QStringList table(const std::vector<QStringList>& rows) {
    std::vector<int> widths;
    for (const QStringList& row : rows) {
        widths.resize(std::max(widths.size(), static_cast<size_t>(row.size())));
        for (int c = 0; c < row.size(); ++c) {
            widths[static_cast<size_t>(c)] =
                std::max(widths[static_cast<size_t>(c)], static_cast<int>(row[c].size()));
        }
    }
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            line += c + 1 < row.size() ? row[c].leftJustified(widths[static_cast<size_t>(c)] + 2)
                                       : row[c];
        }
        lines << line;
    }
    return lines;
}

// "0x" and 1 to 8 hexadecimal digits for a one-word setting; three such words, comma-
// separated, for the registration.
bool parse_raw(size_t setting, const QString& text, std::vector<uint32_t>* words) {
    const SettingDef& def = settings_table()[setting];
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != def.count) {
        return false;
    }
    words->clear();
    for (const QString& part : parts) {
        uint32_t word = 0;
        if (!parse_hex_word(part.trimmed(), &word)) {
            return false;
        }
        words->push_back(word);
    }
    return true;
}

QStringList setting_names() {
    QStringList names;
    for (const SettingDef& def : settings_table()) {
        names << QLatin1String(def.name);
    }
    return names;
}

QString unknown_setting(const QString& name) {
    const QString suggestion = did_you_mean(name, setting_names());
    return suggestion.isEmpty()
               ? QStringLiteral("unknown setting '%1' (see 'efis-cli settings list')").arg(name)
               : QStringLiteral("unknown setting '%1'%2").arg(name, suggestion);
}

}  // namespace

void run_settings_list(CliOutput& out, QJsonObject* result) {
    std::vector<QStringList> rows = {{QStringLiteral("NAME"), QStringLiteral("VALUES")}};
    QJsonArray settings;
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const SettingDef& def = settings_table()[s];
        const QString values = setting_values_text(s);
        rows.push_back({QLatin1String(def.name), values});
        QJsonObject item{{QStringLiteral("name"), QLatin1String(def.name)},
                         {QStringLiteral("values"), values}};
        if (def.kind == SettingKind::Choice) {
            QJsonArray words;
            for (const SettingChoice& c : def.choices) {
                words.append(QString::fromUtf8(c.text).trimmed());
            }
            item.insert(QStringLiteral("words"), words);
        }
        settings.append(item);
    }
    for (const QString& line : table(rows)) {
        out.text(line);
    }
    result->insert(QStringLiteral("settings"), settings);
}

int prepare_settings_set(const CliOptions& options, CliOutput& out, PreparedInput* input) {
    std::set<size_t> seen;
    for (const QString& operand : options.operands) {
        const int eq = operand.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            out.error(QStringLiteral("'%1' is not NAME=VALUE").arg(operand));
            return kExitUsage;
        }
        const QString name = operand.left(eq);
        const QString value = operand.mid(eq + 1);
        const int setting = setting_by_name(name, Qt::CaseInsensitive);
        if (setting < 0) {
            out.error(unknown_setting(name));
            return kExitUsage;
        }
        const auto s = static_cast<size_t>(setting);
        if (!seen.insert(s).second) {
            out.error(
                QStringLiteral("%1 is given twice").arg(QLatin1String(settings_table()[s].name)));
            return kExitUsage;
        }
        const SettingDef& def = settings_table()[s];
        Assignment assignment{s, {}};
        const bool raw = value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) &&
                         parse_raw(s, value, &assignment.words);
        QString error;
        if (!raw && !parse_human(s, value, ValueLimits::Form, &assignment.words, &error)) {
            out.error(QStringLiteral("%1: %2").arg(name, error));
            return kExitUsage;
        }
        for (int i = 0; i < def.count; ++i) {
            const auto index = static_cast<settings_struct_index>(def.first + i);
            const uint32_t word = assignment.words[static_cast<size_t>(i)];
            if (!word_fits(index, word)) {
                out.error(QStringLiteral("%1: %2 is out of range for this setting")
                              .arg(name, hex_word(word)));
                return kExitUsage;
            }
        }
        input->assignments.push_back(assignment);
    }
    return kExitDone;
}

int prepare_settings_import(const CliOptions& options, FILE* in, CliOutput& out,
                            PreparedInput* input) {
    for (const QString& name : options.only) {
        const int setting = setting_by_name(name, Qt::CaseInsensitive);
        if (setting < 0) {
            out.error(QStringLiteral("--only: ") + unknown_setting(name));
            return kExitUsage;
        }
        input->only.insert(static_cast<size_t>(setting));
    }
    const QString path = options.operands.value(0);
    input->import = path == QLatin1String("-") ? settings_file_read(in) : settings_file_read(path);
    if (!input->import.ok) {
        out.error(QStringLiteral("%1 refused: %2").arg(path, input->import.error));
        return kExitFileRefused;
    }
    return kExitDone;
}

int prepare_output_file(const QString& path, CliOutput& out) {
    if (names_standard_output(path)) {
        return kExitDone;
    }
    const QFileInfo info(path);
    const QFileInfo dir(info.absolutePath());
    if (info.isDir()) {
        out.error(QStringLiteral("%1 is a directory").arg(path));
        return kExitFileRefused;
    }
    if (!dir.isDir() || !dir.isWritable()) {
        out.error(QStringLiteral("cannot write %1: no writable directory %2")
                      .arg(path, QDir::toNativeSeparators(info.absolutePath())));
        return kExitFileRefused;
    }
    return kExitDone;
}

int run_settings_show(CliContext& ctx) {
    UnitRecord unit;
    LoadResult result;
    if (const int loaded = load_unit_settings(ctx, &unit, &result); loaded != kExitDone) {
        return loaded;
    }
    QJsonArray settings;
    std::vector<QStringList> rows = {
        {QStringLiteral("NAME"), QStringLiteral("VALUE"), QStringLiteral("RAW")}};
    QStringList unread;
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const QString name = QString::fromLatin1(settings_table()[s].name);
        const std::vector<uint32_t> words = setting_words(unit.record, s);
        const bool missing = setting_unread(unit, s);
        const QString value =
            missing ? QStringLiteral("(could not be read)") : human_value(unit.record, s);
        rows.push_back({name, value, missing ? QString() : raw_text(words)});
        QJsonObject item{{QStringLiteral("name"), name}, {QStringLiteral("read"), !missing}};
        if (!missing) {
            item.insert(QStringLiteral("value"), value);
            item.insert(QStringLiteral("raw"), raw_json(words));
        } else {
            unread << name;
        }
        settings.append(item);
    }
    const QString crc =
        result.crc_matches
            ? QStringLiteral("CRC %1 checks: the record read is the one the unit holds")
                  .arg(hex_word(unit.device_crc))
            : QStringLiteral("CRC does not check: the unit reports %1, the record read gives %2")
                  .arg(hex_word(unit.device_crc), hex_word(result.calculated_crc));
    for (const QString& line : table(rows)) {
        ctx.out.text(line);
    }
    ctx.out.text(crc);
    int status = kExitDone;
    if (!unread.isEmpty()) {
        ctx.out.error(QStringLiteral("%1 value(s) could not be read: %2")
                          .arg(unread.size())
                          .arg(unread.join(QStringLiteral(", "))));
        status = kExitFailed;
    } else if (!result.crc_matches) {
        ctx.out.warning(QStringLiteral("the record's CRC does not check"));
    }
    ctx.result = QJsonObject{{QStringLiteral("settings"), settings},
                             {QStringLiteral("crc_matches"), result.crc_matches},
                             {QStringLiteral("device_crc"), hex_word(unit.device_crc)},
                             {QStringLiteral("calculated_crc"), hex_word(result.calculated_crc)}};
    return status;
}

int run_settings_set(CliContext& ctx, const PreparedInput& input) {
    UnitRecord unit;
    if (const int loaded = load_unit_settings(ctx, &unit); loaded != kExitDone) {
        return loaded;
    }
    if (ctx.cancelled()) {
        ctx.out.error(QStringLiteral("stopped before anything was sent"));
        return kExitCancelled;
    }
    Settings_t working = unit.record;
    PendingSet pending;
    std::vector<QJsonObject> planned;
    for (const Assignment& a : input.assignments) {
        const SettingDef& def = settings_table()[a.setting];
        const QString before = human_value(unit.record, a.setting);
        for (int i = 0; i < def.count; ++i) {
            const auto index = static_cast<settings_struct_index>(def.first + i);
            uint32_t word = a.words[static_cast<size_t>(i)];
            settings_set_value(&working, index, &word);
            pending.insert(index);
        }
        const QString after = human_value(working, a.setting);
        ctx.out.text(QStringLiteral("%1: %2 -> %3").arg(QLatin1String(def.name), before, after));
        planned.push_back(QJsonObject{{QStringLiteral("name"), QLatin1String(def.name)},
                                      {QStringLiteral("before"), before},
                                      {QStringLiteral("after"), after},
                                      {QStringLiteral("raw"), raw_json(a.words)}});
    }
    QJsonObject logged;
    int status = send_unit_settings(ctx, working, &pending, &unit, &logged);
    record_in_logbook(ctx, logged);
    // A change is reported once the unit has acknowledged every element of it.
    QJsonArray changes;
    for (size_t n = 0; n < input.assignments.size(); ++n) {
        const SettingDef& def = settings_table()[input.assignments[n].setting];
        bool acknowledged = true;
        for (int i = 0; i < def.count; ++i) {
            acknowledged = acknowledged &&
                           pending.count(static_cast<settings_struct_index>(def.first + i)) == 0;
        }
        if (acknowledged) {
            changes.append(planned[n]);
        }
    }
    bool saved = false;
    if (status == kExitDone) {
        if (ctx.cancelled()) {
            ctx.out.error(QStringLiteral("cancelled: the values were sent but not saved"));
            status = kExitCancelled;
        } else if (ctx.options.save) {
            status = save_unit_settings(ctx, &unit);
            saved = status == kExitDone;
        } else {
            ctx.out.text(QStringLiteral("Sent %1 setting(s); not saved, so the unit forgets them "
                                        "when it restarts (--save commits them)")
                             .arg(input.assignments.size()));
        }
    }
    ctx.result =
        QJsonObject{{QStringLiteral("changes"), changes}, {QStringLiteral("saved"), saved}};
    return status;
}

int run_settings_export(CliContext& ctx) {
    const QString path = ctx.options.operands.value(0);
    UnitRecord unit;
    if (const int loaded = load_unit_settings(ctx, &unit); loaded != kExitDone) {
        return loaded;
    }
    if (!unit.unknown.empty()) {
        ctx.out.error(QStringLiteral("%1 value(s) could not be read; nothing written")
                          .arg(unit.unknown.size()));
        return kExitFailed;
    }
    SettingsFile file = unit_settings_file(ctx.comms, unit, unit.record);
    SENSOR_CALIB_t calibration{};
    std::vector<int> unread;
    read_calibration(ctx.comms, &calibration, &unread, ctx.env.cancel);
    if (ctx.cancelled()) {
        ctx.out.error(QStringLiteral("stopped before the calibration was read; nothing written"));
        return kExitCancelled;
    }
    file.calibration = calibration;
    file.calibration_unread = unread;
    if (!unread.empty()) {
        ctx.out.warning(QStringLiteral("%1 calibration value(s) could not be read; written as null")
                            .arg(unread.size()));
    }
    if (!write_export(ctx, path, settings_file_encode(file))) {
        return kExitFileRefused;
    }
    ctx.out.text(QStringLiteral("Settings exported to %1").arg(path));
    ctx.result = QJsonObject{{QStringLiteral("file"), path}};
    return kExitDone;
}

bool write_export(CliContext& ctx, const QString& path, const QByteArray& text) {
    QString reason;
    const bool written = names_standard_output(path)
                             ? write_stream_whole(ctx.env.out, text, &reason)
                             : write_file_whole(path, text, &reason);
    if (!written) {
        ctx.out.error(QStringLiteral("could not write %1: %2").arg(path, reason));
    }
    return written;
}

int run_settings_import(CliContext& ctx, const PreparedInput& input) {
    const QString path = ctx.options.operands.value(0);
    const SettingsFile& file = input.import.file;
    UnitRecord unit;
    if (const int loaded = load_unit_settings(ctx, &unit); loaded != kExitDone) {
        return loaded;
    }
    // A file compared with values that were never read would seem to match them, or differ
    // from zeros the unit does not hold.
    if (!unit.unknown.empty()) {
        ctx.out.error(QStringLiteral("%1 value(s) could not be read, so the file cannot be "
                                     "compared with the unit; nothing sent")
                          .arg(unit.unknown.size()));
        return kExitFailed;
    }
    const QString layout = settings_file_layout_check(file, unit.record);
    if (!layout.isEmpty()) {
        ctx.out.error(QStringLiteral("%1 refused: %2").arg(path, layout));
        return kExitFileRefused;
    }
    const uint32_t serial = ctx.comms->serialNumber();
    for (const QString& w :
         settings_file_warnings(file, serial, g_whoami_fwversion) + input.import.warnings) {
        ctx.out.warning(w);
    }
    const bool other_unit = file.header.serial_number != serial;

    std::vector<QStringList> rows = {
        {QStringLiteral("NAME"), QStringLiteral("ON UNIT"), QStringLiteral("IN FILE"), QString()}};
    QJsonArray differences;
    Settings_t working = unit.record;
    PendingSet pending;
    size_t taken = 0;
    QStringList taken_names;
    for (const SettingDifference& d : settings_compare(unit.record, file.record)) {
        QString left_out;
        if (ctx.options.only_given && input.only.count(d.setting) == 0) {
            left_out = QStringLiteral("(not in --only)");
        } else if (!ctx.options.only_given && other_unit && d.identity) {
            left_out = QStringLiteral("(another unit's identity: name it with --only)");
        }
        rows.push_back({d.name, d.on_unit, d.in_file, left_out});
        differences.append(QJsonObject{{QStringLiteral("name"), d.name},
                                       {QStringLiteral("on_unit"), d.on_unit},
                                       {QStringLiteral("in_file"), d.in_file},
                                       {QStringLiteral("taken"), left_out.isEmpty()}});
        if (!left_out.isEmpty()) {
            continue;
        }
        ++taken;
        taken_names << d.name;
        const SettingDef& def = settings_table()[d.setting];
        const std::vector<uint32_t> words = setting_words(file.record, d.setting);
        for (int i = 0; i < def.count; ++i) {
            const auto index = static_cast<settings_struct_index>(def.first + i);
            uint32_t word = words[static_cast<size_t>(i)];
            settings_set_value(&working, index, &word);
            pending.insert(index);
        }
    }

    QJsonObject result{{QStringLiteral("file"), path},
                       {QStringLiteral("differences"), differences},
                       {QStringLiteral("sent"), 0},
                       {QStringLiteral("saved"), false}};
    if (differences.isEmpty()) {
        ctx.out.text(
            QStringLiteral("%1 holds the same settings as the unit: no differences").arg(path));
        ctx.result = result;
        return kExitDone;
    }
    for (const QString& line : table(rows)) {
        ctx.out.text(line.trimmed());
    }
    if (ctx.options.dry_run || taken == 0) {
        ctx.out.text(
            ctx.options.dry_run
                ? QStringLiteral("Dry run: nothing sent (%1 setting(s) would be)").arg(taken)
                : QStringLiteral("Nothing to send"));
        ctx.result = result;
        return kExitDone;
    }
    if (ctx.cancelled()) {
        ctx.out.error(QStringLiteral("stopped before anything was sent"));
        return kExitCancelled;
    }
    QJsonObject logged;
    int status = send_unit_settings(ctx, working, &pending, &unit, &logged);
    record_in_logbook(ctx, logbook_import_action(path, taken_names, logged));
    if (status == kExitDone) {
        result.insert(QStringLiteral("sent"), static_cast<int>(taken));
        if (ctx.cancelled()) {
            ctx.out.error(QStringLiteral("cancelled: the values were sent but not saved"));
            status = kExitCancelled;
        } else if (ctx.options.save) {
            status = save_unit_settings(ctx, &unit);
            result.insert(QStringLiteral("saved"), status == kExitDone);
        } else {
            ctx.out.text(QStringLiteral("Sent %1 setting(s); not saved, so the unit forgets them "
                                        "when it restarts (--save commits them)")
                             .arg(taken));
        }
    }
    ctx.result = result;
    return status;
}
