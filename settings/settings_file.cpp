#include "settings/settings_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "settings/calibration_elements.h"
#include "settings/file_write.h"
#include "settings/json_keys.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"

namespace {

const char kFormatName[] = "efis-config-settings";
const char kCalibrationFormatName[] = "efis-config-calibration";
constexpr int kFormatVersion = 1;

using Member = std::pair<QString, QByteArray>;  // key, the value's JSON text

// One JSON value as text, escaped by QJsonDocument (which encodes only arrays and objects).
QByteArray json(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray json_number(uint32_t value) {
    return json(QJsonValue(static_cast<qint64>(value)));
}

// An object with one member per line, its closing brace indented by `indent` spaces.
QByteArray block(const std::vector<Member>& members, int indent) {
    const QByteArray inner(indent + 4, ' ');
    QByteArray text = "{\n";
    for (size_t i = 0; i < members.size(); ++i) {
        text += inner + json(members[i].first) + ": " + members[i].second;
        text += i + 1 < members.size() ? ",\n" : "\n";
    }
    return text + QByteArray(indent, ' ') + "}";
}

// An object or array on one line.
QByteArray one_line(const std::vector<Member>& members) {
    QByteArray text = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        text += (i > 0 ? ", " : "") + json(members[i].first) + ": " + members[i].second;
    }
    return text + "}";
}

QByteArray one_line(const std::vector<QByteArray>& items) {
    QByteArray text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i > 0 ? ", " : "") + items[i];
    }
    return text + "]";
}

// The record's own words belong to a settings file's header only.
QByteArray header_block(const SettingsFile& file, bool with_record_words) {
    const SettingsFileHeader& h = file.header;
    const bool legacy = h.generation == UnitGeneration::Legacy;
    std::vector<Member> members = {
        {QStringLiteral("tool_version"), json(h.tool_version)},
        {QStringLiteral("written"), json(h.written.toUTC().toString(Qt::ISODate))},
        {QStringLiteral("serial_number"), json_number(h.serial_number)},
        {QStringLiteral("firmware_version"), json(firmware_version_text(h.firmware))},
        {QStringLiteral("generation"),
         json(legacy ? QStringLiteral("legacy") : QStringLiteral("current"))},
    };
    if (with_record_words) {
        members.emplace_back(QStringLiteral("magic"), json(hex_word(file.record.magic)));
        members.emplace_back(QStringLiteral("memory_version"), json_number(file.record.version));
        members.emplace_back(QStringLiteral("element_count"),
                             json_number(file.record.num_elements));
        members.emplace_back(QStringLiteral("device_crc"), json(hex_word(h.device_crc)));
    }
    return block(members, 4);
}

QByteArray settings_block(const Settings_t& record) {
    std::vector<Member> members;
    for (size_t s = 0; s < settings_table().size(); ++s) {
        std::vector<QByteArray> raw;
        for (const uint32_t word : setting_words(record, s)) {
            raw.push_back(json(hex_word(word)));
        }
        members.emplace_back(
            QString::fromLatin1(settings_table()[s].name),
            one_line({{QStringLiteral("raw"), raw.size() == 1 ? raw.front() : one_line(raw)},
                      {QStringLiteral("value"), json(human_value(record, s))}}));
    }
    return block(members, 4);
}

QByteArray calibration_block(const SettingsFile& file) {
    SENSOR_CALIB_t calibration = *file.calibration;
    std::vector<Member> members;
    for (const CalibrationElement& e : calibration_elements()) {
        const QString name = QString::fromLatin1(e.name);
        bool unread = false;
        for (const int index : file.calibration_unread) {
            unread = unread || index == e.index;
        }
        if (unread) {
            members.emplace_back(name, json(QJsonValue::Null));
            continue;
        }
        const uint32_t word = calib_get_value(&calibration, e.index);
        std::vector<Member> element = {{QStringLiteral("raw"), json(hex_word(word))}};
        if (e.is_float) {
            element.emplace_back(QStringLiteral("value"), json(float_text(word)));
        }
        members.emplace_back(name, one_line(element));
    }
    return block(members, 4);
}

// Decoding: every check names the key it refuses.

bool refuse(QString* error, const QString& message) {
    *error = message;
    return false;
}

QString key_path(const QString& path, const QString& key) {
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

bool only_keys(const QJsonObject& object, std::initializer_list<const char*> keys,
               const QString& path, QString* error) {
    for (const QString& key : object.keys()) {
        bool known = false;
        for (const char* k : keys) {
            known = known || key == QLatin1String(k);
        }
        if (!known) {
            return refuse(error, QStringLiteral("%1: unknown key").arg(key_path(path, key)));
        }
    }
    return true;
}

bool present(const QJsonObject& object, const QString& path, const char* key, QString* error) {
    if (object.contains(QLatin1String(key))) {
        return true;
    }
    return refuse(error, QStringLiteral("%1 is missing").arg(key_path(path, QLatin1String(key))));
}

bool text_member(const QJsonObject& object, const QString& path, const char* key, QString* out,
                 QString* error) {
    if (!present(object, path, key, error)) {
        return false;
    }
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) {
        return refuse(error,
                      QStringLiteral("%1 must be a text").arg(key_path(path, QLatin1String(key))));
    }
    *out = value.toString();
    return true;
}

bool whole_number(const QJsonValue& value, uint32_t* out) {
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d < 0 || d > 4294967295.0 || std::floor(d) != d) {
        return false;
    }
    *out = static_cast<uint32_t>(d);
    return true;
}

bool number_member(const QJsonObject& object, const QString& path, const char* key, uint32_t* out,
                   QString* error) {
    if (!present(object, path, key, error)) {
        return false;
    }
    if (!whole_number(object.value(QLatin1String(key)), out)) {
        return refuse(error, QStringLiteral("%1 must be a whole number from 0 to 4294967295")
                                 .arg(key_path(path, QLatin1String(key))));
    }
    return true;
}

bool word_value(const QJsonValue& value, const QString& path, uint32_t* out, QString* error) {
    if (!value.isString() || !parse_hex_word(value.toString(), out)) {
        return refuse(
            error,
            QStringLiteral("%1 must be a word: \"0x\" and up to 8 hexadecimal digits").arg(path));
    }
    return true;
}

bool word_member(const QJsonObject& object, const QString& path, const char* key, uint32_t* out,
                 QString* error) {
    return present(object, path, key, error) &&
           word_value(object.value(QLatin1String(key)), key_path(path, QLatin1String(key)), out,
                      error);
}

bool decode_header(const QJsonValue& value, SettingsFile* file, QString* error) {
    const QString path = QStringLiteral("header");
    if (!value.isObject()) {
        return refuse(error, QStringLiteral("header must be an object"));
    }
    const QJsonObject h = value.toObject();
    if (!only_keys(h,
                   {"tool_version", "written", "serial_number", "firmware_version", "generation",
                    "magic", "memory_version", "element_count", "device_crc"},
                   path, error)) {
        return false;
    }
    SettingsFileHeader& header = file->header;
    QString written;
    QString firmware;
    QString generation;
    if (!text_member(h, path, "tool_version", &header.tool_version, error) ||
        !text_member(h, path, "written", &written, error) ||
        !number_member(h, path, "serial_number", &header.serial_number, error) ||
        !text_member(h, path, "firmware_version", &firmware, error) ||
        !text_member(h, path, "generation", &generation, error) ||
        !word_member(h, path, "magic", &file->record.magic, error) ||
        !number_member(h, path, "memory_version", &file->record.version, error) ||
        !number_member(h, path, "element_count", &file->record.num_elements, error) ||
        !word_member(h, path, "device_crc", &header.device_crc, error)) {
        return false;
    }
    header.written = QDateTime::fromString(written, Qt::ISODate).toUTC();
    if (!header.written.isValid()) {
        return refuse(error, QStringLiteral("header.written must be a time in ISO 8601, such as "
                                            "\"2025-01-31T12:00:00Z\""));
    }
    if (!parse_firmware_version(firmware, &header.firmware)) {
        return refuse(error, QStringLiteral("header.firmware_version must read like \"0.2.12\""));
    }
    if (generation == QLatin1String("current")) {
        header.generation = UnitGeneration::Current;
    } else if (generation == QLatin1String("legacy")) {
        header.generation = UnitGeneration::Legacy;
    } else {
        return refuse(error, QStringLiteral("header.generation must be \"current\" or \"legacy\""));
    }
    return true;
}

bool decode_raw(size_t setting, const QJsonValue& value, const QString& path,
                std::vector<uint32_t>* words, QString* error) {
    const SettingDef& def = settings_table()[setting];
    words->assign(static_cast<size_t>(def.count), 0);
    if (def.count == 1) {
        if (!word_value(value, path, &words->front(), error)) {
            return false;
        }
    } else {
        const QJsonArray array = value.toArray();
        if (!value.isArray() || array.size() != def.count) {
            return refuse(
                error, QStringLiteral("%1 must be an array of %2 words").arg(path).arg(def.count));
        }
        for (int i = 0; i < def.count; ++i) {
            if (!word_value(array.at(i), path, &(*words)[static_cast<size_t>(i)], error)) {
                return false;
            }
        }
    }
    for (int i = 0; i < def.count; ++i) {
        const auto index = static_cast<settings_struct_index>(def.first + i);
        const uint32_t word = (*words)[static_cast<size_t>(i)];
        if (!word_fits(index, word)) {
            const uint32_t most = word_fits(index, 0x100) ? 0xFFFF : 0xFF;
            return refuse(error, QStringLiteral("%1: %2 does not fit; the element holds at most %3")
                                     .arg(path, hex_word(word))
                                     .arg(most));
        }
    }
    return true;
}

// A record holding just these words of the setting, for its human value.
Settings_t record_with(size_t setting, const std::vector<uint32_t>& words) {
    Settings_t record;
    std::memset(&record, 0, sizeof(record));
    const SettingDef& def = settings_table()[setting];
    for (int i = 0; i < def.count; ++i) {
        uint32_t word = words[static_cast<size_t>(i)];
        settings_set_value(&record, static_cast<settings_struct_index>(def.first + i), &word);
    }
    return record;
}

bool decode_setting(size_t setting, const QJsonValue& value, std::vector<uint32_t>* words,
                    QStringList* warnings, QString* error) {
    const QString path =
        QStringLiteral("settings.%1").arg(QLatin1String(settings_table()[setting].name));
    if (!value.isObject()) {
        return refuse(error,
                      QStringLiteral("%1 must be an object with \"raw\" and \"value\"").arg(path));
    }
    const QJsonObject o = value.toObject();
    if (!only_keys(o, {"raw", "value"}, path, error)) {
        return false;
    }
    const bool hasRaw = o.contains(QLatin1String("raw"));
    const bool hasValue = o.contains(QLatin1String("value"));
    if (!hasRaw && !hasValue) {
        return refuse(error, QStringLiteral("%1 has neither \"raw\" nor \"value\"").arg(path));
    }
    // The value must make sense even where the raw word overrules it. Beside the raw word it
    // may state any word the element holds, as an export of such a word writes it; alone it
    // must be one the form offers.
    QString text;
    std::vector<uint32_t> human;
    if (hasValue) {
        QString why;
        if (!text_member(o, path, "value", &text, error)) {
            return false;
        }
        const ValueLimits limits = hasRaw ? ValueLimits::Element : ValueLimits::Form;
        if (!parse_human(setting, text, limits, &human, &why)) {
            return refuse(error, QStringLiteral("%1.value: %2").arg(path, why));
        }
    }
    if (!hasRaw) {
        *words = human;
        return true;
    }
    if (!decode_raw(setting, o.value(QLatin1String("raw")), path + QStringLiteral(".raw"), words,
                    error)) {
        return false;
    }
    // An erased registration and an empty one read alike: only a value edited by hand is
    // worth a warning.
    const QString shown = human_value(record_with(setting, *words), setting);
    if (hasValue && human != *words && shown != text) {
        QStringList hex;
        for (const uint32_t word : *words) {
            hex << hex_word(word);
        }
        *warnings << QStringLiteral(
                         "%1: the value \"%2\" differs from the raw word %3 (\"%4\"); "
                         "the raw word is used")
                         .arg(path, text, hex.join(QLatin1Char(' ')), shown);
    }
    return true;
}

bool decode_settings(const QJsonValue& value, Settings_t* record, QStringList* warnings,
                     QString* error) {
    if (!value.isObject()) {
        return refuse(error, QStringLiteral("settings must be an object"));
    }
    const QJsonObject settings = value.toObject();
    for (const QString& key : settings.keys()) {
        if (setting_by_name(key) < 0) {
            return refuse(error, QStringLiteral("settings.%1: unknown setting").arg(key));
        }
    }
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const SettingDef& def = settings_table()[s];
        if (!present(settings, QStringLiteral("settings"), def.name, error)) {
            return false;
        }
        std::vector<uint32_t> words;
        if (!decode_setting(s, settings.value(QLatin1String(def.name)), &words, warnings, error)) {
            return false;
        }
        for (int i = 0; i < def.count; ++i) {
            settings_set_value(record, static_cast<settings_struct_index>(def.first + i),
                               &words[static_cast<size_t>(i)]);
        }
    }
    return true;
}

bool decode_calibration(const QJsonValue& value, SettingsFile* file, QString* error) {
    if (!value.isObject()) {
        return refuse(error, QStringLiteral("calibration must be an object"));
    }
    const QJsonObject object = value.toObject();
    for (const QString& key : object.keys()) {
        bool known = false;
        for (const CalibrationElement& e : calibration_elements()) {
            known = known || key == QLatin1String(e.name);
        }
        if (!known) {
            return refuse(error, QStringLiteral("calibration.%1: unknown element").arg(key));
        }
    }
    SENSOR_CALIB_t calibration;
    std::memset(&calibration, 0, sizeof(calibration));
    for (const CalibrationElement& e : calibration_elements()) {
        const QString path = QStringLiteral("calibration.%1").arg(QLatin1String(e.name));
        if (!present(object, QStringLiteral("calibration"), e.name, error)) {
            return false;
        }
        const QJsonValue element = object.value(QLatin1String(e.name));
        if (element.isNull()) {
            file->calibration_unread.push_back(e.index);
            continue;
        }
        if (!element.isObject()) {
            return refuse(error,
                          QStringLiteral("%1 must be null or an object with \"raw\"").arg(path));
        }
        uint32_t word = 0;
        if (!word_member(element.toObject(), path, "raw", &word, error)) {
            return false;
        }
        calib_set_value(&calibration, e.index, &word);
    }
    file->calibration = calibration;
    return true;
}

QString too_large(qint64 size) {
    return QStringLiteral("The file is larger than 1 MiB (%1 bytes)").arg(size);
}

int line_of(const QByteArray& text, int offset) {
    return static_cast<int>(text.left(offset).count('\n')) + 1;
}

bool decode(const QByteArray& text, SettingsFile* file, QStringList* warnings, QString* error) {
    if (text.size() > kSettingsFileMaxSize) {
        return refuse(error, too_large(text.size()));
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        return refuse(error, QStringLiteral("Not a JSON file: %1 at line %2")
                                 .arg(parse.errorString())
                                 .arg(line_of(text, parse.offset)));
    }
    if (!document.isObject()) {
        return refuse(error, QStringLiteral("Not a settings file: the JSON text is no object"));
    }
    const QString repeated = json_repeated_key(text);
    if (!repeated.isEmpty()) {
        return refuse(error, QStringLiteral("%1 appears more than once").arg(repeated));
    }
    const QJsonObject top = document.object();
    const QJsonValue format = top.value(QLatin1String("format"));
    if (!format.isString()) {
        return refuse(error, QStringLiteral("Not a settings file: \"format\" is missing"));
    }
    if (format.toString() != QLatin1String(kFormatName)) {
        return refuse(error, QStringLiteral("Not a settings file: the format is \"%1\", not \"%2\"")
                                 .arg(format.toString(), QLatin1String(kFormatName)));
    }
    uint32_t version = 0;
    if (!number_member(top, QString(), "format_version", &version, error)) {
        return false;
    }
    if (version != kFormatVersion) {
        return refuse(error, QStringLiteral("format_version %1 is not known to this tool, which "
                                            "reads version %2")
                                 .arg(version)
                                 .arg(kFormatVersion));
    }
    if (!only_keys(top, {"format", "format_version", "header", "settings", "calibration"},
                   QString(), error) ||
        !present(top, QString(), "header", error) ||
        !decode_header(top.value(QLatin1String("header")), file, error) ||
        !present(top, QString(), "settings", error) ||
        !decode_settings(top.value(QLatin1String("settings")), &file->record, warnings, error)) {
        return false;
    }
    if (top.contains(QLatin1String("calibration")) &&
        !decode_calibration(top.value(QLatin1String("calibration")), file, error)) {
        return false;
    }
    // The CRC over the record as the file states it, as a load computes it.
    file->record.crc32 = 0;
    file->record.crc32 = settings_CalcCRC(&file->record);
    return true;
}

}  // namespace

QByteArray settings_file_encode(const SettingsFile& file) {
    std::vector<Member> top = {
        {QStringLiteral("format"), json(QLatin1String(kFormatName))},
        {QStringLiteral("format_version"), json(kFormatVersion)},
        {QStringLiteral("header"), header_block(file, true)},
        {QStringLiteral("settings"), settings_block(file.record)},
    };
    if (file.calibration.has_value()) {
        top.emplace_back(QStringLiteral("calibration"), calibration_block(file));
    }
    return block(top, 0) + "\n";
}

bool settings_file_write(const QString& path, const SettingsFile& file, QString* error) {
    return write_file_whole(path, settings_file_encode(file), error);
}

QByteArray calibration_file_encode(const SettingsFile& file) {
    SettingsFile with_calibration = file;
    if (!with_calibration.calibration.has_value()) {
        with_calibration.calibration = SENSOR_CALIB_t{};
    }
    const std::vector<Member> top = {
        {QStringLiteral("format"), json(QLatin1String(kCalibrationFormatName))},
        {QStringLiteral("format_version"), json(kFormatVersion)},
        {QStringLiteral("header"), header_block(file, false)},
        {QStringLiteral("calibration"), calibration_block(with_calibration)},
    };
    return block(top, 0) + "\n";
}

bool calibration_file_write(const QString& path, const SettingsFile& file, QString* error) {
    return write_file_whole(path, calibration_file_encode(file), error);
}

SettingsFileRead settings_file_decode(const QByteArray& text) {
    SettingsFileRead result;
    SettingsFile file;
    QStringList warnings;
    if (!decode(text, &file, &warnings, &result.error)) {
        return result;
    }
    result.ok = true;
    result.file = file;
    result.warnings = warnings;
    return result;
}

SettingsFileRead settings_file_read(const QString& path) {
    SettingsFileRead result;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Cannot open %1: %2").arg(path, in.errorString());
        return result;
    }
    // A larger file is refused before it is read; the read stops just past the limit in case
    // the file grows meanwhile.
    if (in.size() > kSettingsFileMaxSize) {
        result.error = too_large(in.size());
        return result;
    }
    const QByteArray text = in.read(kSettingsFileMaxSize + 1);
    if (in.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("Cannot read %1: %2").arg(path, in.errorString());
        return result;
    }
    return settings_file_decode(text);
}

SettingsFileRead settings_file_read(FILE* stream) {
    SettingsFileRead result;
    // Read just past the limit, so that a larger file is refused without reading it all.
    QByteArray text(static_cast<int>(kSettingsFileMaxSize + 1), '\0');
    errno = 0;
    const size_t got = std::fread(text.data(), 1, static_cast<size_t>(text.size()), stream);
    if (std::ferror(stream) != 0) {
        result.error = QStringLiteral("Cannot read standard input: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO)));
        return result;
    }
    if (got > static_cast<size_t>(kSettingsFileMaxSize)) {
        result.error = QStringLiteral("The input is larger than 1 MiB");
        return result;
    }
    text.truncate(static_cast<int>(got));
    return settings_file_decode(text);
}
