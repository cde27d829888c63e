#include "settings/setting_names.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <cstring>

#include "EFIS_shared/get_set.h"
#include "settings/word_text.h"

namespace {

// The three speed units and the three pairs of the units word, bit by bit.
const SettingChoice kAirspeed[] = {{1u << 0, "MPH"}, {1u << 1, "Knots"}, {1u << 2, "KPH"}};
const SettingChoice kAltitude[] = {{1u << 3, "Feet"}, {1u << 4, "Meters"}};
const SettingChoice kTemperature[] = {{1u << 5, "Fahrenheit"}, {1u << 6, "Celsius"}};
const SettingChoice kPressure[] = {{1u << 7, "InHg"}, {1u << 8, "Mbar"}};
constexpr uint32_t kUnitBits = 0x1FF;

const SettingChoice kIcaoType[] = {{0, "Use ICAO #"}, {1, "Random ICAO #"}};
const SettingChoice kTermResistor[] = {{1, "Enable"}, {0, "Disable"}};
const SettingChoice kMapView[] = {{0, "North Up"}, {1, "Track Up"}};
const SettingChoice kEmitter[] = {
    {0, "A0 : Reserved"},
    {1, "A1 : Light (< 15.5k lbs)"},
    {2, "A2 : Small (15.5k to 75k lbs)"},
    {3, "A3 : Large (75k to 300k lbs)"},
    {4, "A4 : High vortex large"},
    {5, "A5 : Heavy (> 300k lbs) "},
    {6, "A6 : High Perf > 5g & 400 kts"},
    {7, "A7 : Rotorcraft"},
    {8, "B0 : Reserved"},
    {9, "B1 : Glider / sailplane"},
    {10, "B2 : Lighter-than-air"},
    {11, "B3 : Parachutist / skydiver"},
    {12, "B4 : Ultralight / hang-glider / paraglider"},
    {13, "B5 : Reserved"},
    {14, "B6 : Unmanned aerial vehicle"},
    {15, "B7 : Space / trans-atmospheric vehicle"},
    {16, "C0 : Reserved"},
    {17, "C1 : Surface vehicle \xE2\x80\x93 emergency vehicle"},
    {18, "C2 : Surface vehicle \xE2\x80\x93 service vehicle"},
    {19, "C3 : Point obstacle (includes tethered balloons)"},
    {20, "C4 : Cluster obstacle"},
    {21, "C5 : Line obstacle"},
};

template <size_t N>
constexpr ChoiceList list(const SettingChoice (&items)[N], int unlisted, bool by_code = false) {
    return ChoiceList{items, static_cast<int>(N), unlisted, by_code};
}

const std::array<UnitGroup, kUnitGroupCount> kUnitGroups = {{
    {list(kAirspeed, 1), false},
    {list(kAltitude, 0), true},
    {list(kTemperature, 0), true},
    {list(kPressure, 0), true},
}};

constexpr SettingRange kUnlimited{false, 0, 0, 0, 0};
constexpr ChoiceList kNoList{nullptr, 0, 0, false};

constexpr SettingRange whole(double high, double step = 1) {
    return SettingRange{true, 0, high, 0, step};
}
constexpr SettingRange tenths(double low, double high) {
    return SettingRange{true, low, high, 1, 0.1};
}

constexpr const char* kSpeed = "a whole number from 0 to 255";
constexpr const char* kVolts = "volts with at most one decimal, from 0 to 6553.5";
constexpr const char* kColour = "a colour \"#rrggbb\" or \"#aarrggbb\"";
constexpr const char* kNumber = "a whole number from 0 to 4294967295";
constexpr const char* kDegrees = "degrees as a decimal number";

// The ranges are those the form's spin boxes and sliders offer; the window sets them from here.
const std::array<SettingDef, kSettingCount> kSettings = {{
    {"units", UNITS_VALUE_INDEX, 1, false, SettingKind::Units, kUnlimited, kNoList,
     "four unit texts such as \"Knots, Feet, Fahrenheit, InHg\""},
    {"vmin", VMIN_INDEX, 1, false, SettingKind::Speed, whole(255, 10), kNoList, kSpeed},
    {"vs0", VS0_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"vs1", VS1_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"vfe", VFE_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"vn0", VN0_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"vne", VNE_INDEX, 1, false, SettingKind::Speed, whole(240), kNoList, kSpeed},
    {"vref", APPROACHSPEED_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"vlo", VLO_INDEX, 1, false, SettingKind::Speed, whole(255), kNoList, kSpeed},
    {"min_volts_warning", MIN_VOLTS_INDEX, 1, false, SettingKind::Volts, tenths(5, 65), kNoList,
     kVolts},
    {"max_volts_warning", MAX_VOLTS_INDEX, 1, false, SettingKind::Volts, tenths(5, 65), kNoList,
     kVolts},
    {"registration", REGISTRATION_1_INDEX, 3, true, SettingKind::Registration, kUnlimited, kNoList,
     "at most 11 Latin-1 characters, none of them NUL or \u00FF"},
    {"sky_color_0", SKY_COLOR_0_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList, kColour},
    {"sky_color_1", SKY_COLOR_1_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList, kColour},
    {"ground_color_0", GROUND_COLOR_0_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"ground_color_1", GROUND_COLOR_1_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"approach_indicator_color", APPROACH_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited,
     kNoList, kColour},
    {"airplane_color", AIRPLANE_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"green_arc_color", GREEN_ARC_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"yellow_arc_color", YELLOW_ARC_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"red_arc_color", RED_ARC_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited, kNoList,
     kColour},
    {"gear_indicator_color", GEAR_INDI_COLOR_INDEX, 1, false, SettingKind::Colour, kUnlimited,
     kNoList, kColour},
    {"backlight_brightness", BACKLIGHT_BRIGHTNESS_INDEX, 1, false, SettingKind::Number, whole(21),
     kNoList, kNumber},
    {"roll_correction", ROLL_CORRECTION_INDEX, 1, false, SettingKind::Correction, tenths(-90, 90),
     kNoList, kDegrees},
    {"pitch_correction", PITCH_CORRECTION_INDEX, 1, false, SettingKind::Correction, tenths(-90, 90),
     kNoList, kDegrees},
    {"min_volts_alert", MIN_VOLTS_ALERT_INDEX, 1, false, SettingKind::Volts, tenths(5, 65), kNoList,
     kVolts},
    {"max_volts_alert", MAX_VOLTS_ALERT_INDEX, 1, false, SettingKind::Volts, tenths(5, 65), kNoList,
     kVolts},
    {"text_bg_alpha", TEXT_BG_ALPHA_INDEX, 1, false, SettingKind::Number, whole(254), kNoList,
     kNumber},
    {"use_mag_heading", USE_MAG_INDEX, 1, false, SettingKind::Number, kUnlimited, kNoList, kNumber},
    {"ownship_icao", OWNSHIP_ICAO_INDEX, 1, true, SettingKind::Icao, kUnlimited, kNoList,
     "six hexadecimal digits"},
    // Any word but 1 shows as the address in use; any but 0 as the resistor enabled.
    {"icao_address_type", ICAO_ADDR_TYPE_INDEX, 1, true, SettingKind::Choice, kUnlimited,
     list(kIcaoType, 0), "\"Use ICAO #\" or \"Random ICAO #\""},
    {"emitter_cat", EMITTER_CAT_INDEX, 1, true, SettingKind::Choice, kUnlimited,
     list(kEmitter, kNearestItem, true),
     "an emitter category such as \"A1 : Light (< 15.5k lbs)\" or \"A1\""},
    {"termination_resistor", TERM_RESISTOR_INDEX, 1, false, SettingKind::Choice, kUnlimited,
     list(kTermResistor, 0), "\"Enable\" or \"Disable\""},
    {"map_view", MAP_DIR_INDEX, 1, false, SettingKind::Choice, kUnlimited, list(kMapView, 0),
     "\"North Up\" or \"Track Up\""},
}};

const SettingChoice* choice_of_word(const ChoiceList& choices, uint32_t word) {
    for (const SettingChoice& c : choices) {
        if (c.word == word) {
            return &c;
        }
    }
    return nullptr;
}

// Surrounding blanks are not part of a choice: one emitter text ends in a blank. Case is not
// either: users type "enable" as often as "Enable".
const SettingChoice* choice_of_text(const ChoiceList& choices, const QString& text) {
    const QString wanted = text.trimmed();
    for (const SettingChoice& c : choices) {
        if (QString::fromUtf8(c.text).trimmed().compare(wanted, Qt::CaseInsensitive) == 0) {
            return &c;
        }
    }
    return nullptr;
}

// The word written as itself, for words the form's terms cannot state.
bool parse_own_word(const QString& text, uint32_t* word) {
    return text.trimmed().size() == 10 && parse_hex_word(text, word);
}

bool parse_whole(const QString& text, uint64_t limit, uint32_t* word) {
    static const QRegularExpression kDigits(QStringLiteral("^\\d{1,10}$"));
    const QString t = text.trimmed();
    if (!kDigits.match(t).hasMatch()) {
        return false;
    }
    const qulonglong value = t.toULongLong();
    if (value > limit) {
        return false;
    }
    *word = static_cast<uint32_t>(value);
    return true;
}

// A long hand-edited value is cut in messages.
QString shown(const QString& text) {
    constexpr int kShown = 40;
    return text.size() <= kShown ? text : text.left(kShown) + QStringLiteral("...");
}

QString quoted(const QString& text) {
    return QStringLiteral("\"%1\"").arg(shown(text));
}

// The one item of a units group whose bit is set, or null.
const SettingChoice* set_choice(const ChoiceList& choices, uint32_t word) {
    const SettingChoice* found = nullptr;
    for (const SettingChoice& c : choices) {
        if ((word & c.word) != 0) {
            if (found != nullptr) {
                return nullptr;
            }
            found = &c;
        }
    }
    return found;
}

QString units_text(uint32_t word) {
    if ((word & ~kUnitBits) != 0) {
        return hex_word(word);
    }
    QStringList texts;
    for (const UnitGroup& group : kUnitGroups) {
        const SettingChoice* c = set_choice(group.items, word);
        if (c == nullptr) {
            return hex_word(word);
        }
        texts << QString::fromUtf8(c->text);
    }
    return texts.join(QStringLiteral(", "));
}

const char* const kUnitGroupNames[kUnitGroupCount] = {"airspeed", "altitude", "temperature",
                                                      "pressure"};

QString choice_texts(const ChoiceList& choices) {
    QStringList texts;
    for (const SettingChoice& c : choices) {
        texts << QString::fromUtf8(c.text).trimmed();
    }
    return texts.join(QStringLiteral(", "));
}

// Four unit texts, one of each group in order; *error names the first group whose text is not
// one of its items (left empty when the text is not four parts at all).
bool parse_units(const QString& text, uint32_t* word, QString* error) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != static_cast<int>(kUnitGroupCount)) {
        return false;
    }
    uint32_t value = 0;
    for (size_t g = 0; g < kUnitGroupCount; ++g) {
        const QString part = parts[static_cast<int>(g)];
        const SettingChoice* c = choice_of_text(kUnitGroups[g].items, part);
        if (c == nullptr) {
            *error =
                QStringLiteral("\"%1\" is not %2 %3 unit: %4")
                    .arg(part.trimmed(), g == 1 ? QStringLiteral("an") : QStringLiteral("a"),
                         QLatin1String(kUnitGroupNames[g]), choice_texts(kUnitGroups[g].items));
            return false;
        }
        value |= c->word;
    }
    *word = value;
    return true;
}

QString volts_text(uint32_t tenths) {
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

bool parse_volts(const QString& text, uint32_t* word) {
    static const QRegularExpression kVolts(QStringLiteral("^(\\d{1,5})(?:\\.(\\d))?$"));
    const QRegularExpressionMatch m = kVolts.match(text.trimmed());
    if (!m.hasMatch()) {
        return false;
    }
    const uint32_t tenths = m.captured(1).toUInt() * 10 + m.captured(2).toUInt();
    if (tenths > 0xFFFF) {
        return false;
    }
    *word = tenths;
    return true;
}

QString registration_text(const std::vector<uint32_t>& words) {
    QByteArray chars;
    for (size_t i = 0; i < 11; ++i) {
        const auto byte = static_cast<uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
        if (byte == 0x00 || byte == 0xFF) {
            break;
        }
        chars.append(static_cast<char>(byte));
    }
    return QString::fromLatin1(chars);
}

// The registration as the form joins it: the characters, zero-padded, byte 11 zero.
bool parse_registration(const QString& text, std::vector<uint32_t>* words) {
    if (text.size() > 11) {
        return false;
    }
    uint8_t bytes[12] = {};
    for (int i = 0; i < text.size(); ++i) {
        const ushort code = text.at(i).unicode();
        if (code == 0x00 || code >= 0xFF) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(code);
    }
    words->assign(3, 0);
    for (size_t i = 0; i < 12; ++i) {
        (*words)[i / 4] |= static_cast<uint32_t>(bytes[i]) << (24 - 8 * (i % 4));
    }
    return true;
}

QString colour_text(uint32_t word) {
    if ((word >> 24) == 0xFF) {
        return QStringLiteral("#%1").arg(word & 0xFFFFFF, 6, 16, QLatin1Char('0'));
    }
    return QStringLiteral("#%1").arg(word, 8, 16, QLatin1Char('0'));
}

bool parse_colour(const QString& text, uint32_t* word) {
    static const QRegularExpression kColour(QStringLiteral("^#([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    const QRegularExpressionMatch m = kColour.match(text.trimmed());
    if (!m.hasMatch()) {
        return false;
    }
    const uint32_t value = m.captured(1).toUInt(nullptr, 16);
    *word = m.captured(1).size() == 6 ? (0xFF000000u | value) : value;
    return true;
}

QString icao_text(uint32_t word) {
    if (word > 0xFFFFFF) {
        return hex_word(word);
    }
    return QStringLiteral("%1").arg(word, 6, 16, QLatin1Char('0')).toUpper();
}

bool parse_icao(const QString& text, uint32_t* word) {
    static const QRegularExpression kIcao(QStringLiteral("^[0-9a-fA-F]{6}$"));
    if (!kIcao.match(text.trimmed()).hasMatch()) {
        return false;
    }
    *word = text.trimmed().toUInt(nullptr, 16);
    return true;
}

QString choice_text(const ChoiceList& choices, uint32_t word) {
    const SettingChoice* c = choice_of_word(choices, word);
    return c != nullptr ? QString::fromUtf8(c->text) : hex_word(word);
}

// An item by its text or, where the list allows, by its code alone ("A5").
bool parse_choice(const ChoiceList& choices, const QString& text, uint32_t* word) {
    const SettingChoice* c = choice_of_text(choices, text);
    for (auto item = choices.begin(); c == nullptr && choices.by_code && item != choices.end();
         ++item) {
        if (QString::fromUtf8(item->text).left(2).compare(text.trimmed(), Qt::CaseInsensitive) ==
            0) {
            c = item;
        }
    }
    if (c == nullptr) {
        return false;
    }
    *word = c->word;
    return true;
}

// Parses one word of a single-element setting; a word the form's terms cannot state may be
// given as itself where human_value would write it so.
bool parse_single(const SettingDef& def, const QString& text, uint32_t* word, QString* why) {
    switch (def.kind) {
    case SettingKind::Units:
        return parse_units(text, word, why) || parse_own_word(text, word);
    case SettingKind::Speed:
        return parse_whole(text, 0xFF, word);
    case SettingKind::Volts:
        return parse_volts(text, word);
    case SettingKind::Colour:
        return parse_colour(text, word);
    case SettingKind::Number:
        return parse_whole(text, 0xFFFFFFFFu, word);
    case SettingKind::Correction:
        return parse_float_text(text, word) || parse_own_word(text, word);
    case SettingKind::Icao:
        return parse_icao(text, word) || parse_own_word(text, word);
    case SettingKind::Choice:
        return parse_choice(def.choices, text, word) || parse_own_word(text, word);
    case SettingKind::Registration:
        break;
    }
    return false;
}

// The word in the form's terms, to compare with the control's range; NaN where it has none.
double form_value(SettingKind kind, uint32_t word) {
    switch (kind) {
    case SettingKind::Speed:
    case SettingKind::Number:
        return static_cast<double>(word);
    case SettingKind::Volts:
        return word / 10.0;
    case SettingKind::Correction: {
        float f = 0;
        std::memcpy(&f, &word, sizeof(f));
        return static_cast<double>(f);
    }
    default:
        break;
    }
    return std::nan("");
}

bool in_range(const SettingRange& range, SettingKind kind, uint32_t word) {
    const double value = form_value(kind, word);
    return value >= range.low && value <= range.high;
}

}  // namespace

const std::array<SettingDef, kSettingCount>& settings_table() {
    return kSettings;
}

const std::array<UnitGroup, kUnitGroupCount>& unit_groups() {
    return kUnitGroups;
}

int setting_by_name(const QString& name, Qt::CaseSensitivity cs) {
    for (size_t s = 0; s < kSettings.size(); ++s) {
        if (name.compare(QLatin1String(kSettings[s].name), cs) == 0) {
            return static_cast<int>(s);
        }
    }
    return -1;
}

size_t setting_of_element(settings_struct_index index) {
    size_t setting = 0;
    while (setting + 1 < kSettings.size() && kSettings[setting + 1].first <= index) {
        ++setting;
    }
    return setting;
}

QString setting_values_text(size_t setting) {
    const SettingDef& def = kSettings.at(setting);
    switch (def.kind) {
    case SettingKind::Units: {
        QStringList groups;
        for (size_t g = 0; g < kUnitGroupCount; ++g) {
            QStringList texts;
            for (const SettingChoice& c : kUnitGroups[g].items) {
                texts << QString::fromUtf8(c.text);
            }
            groups << texts.join(QLatin1Char('|'));
        }
        return QStringLiteral("one of each, comma-separated: ") + groups.join(QStringLiteral(", "));
    }
    case SettingKind::Speed:
    case SettingKind::Number:
    case SettingKind::Volts:
    case SettingKind::Correction:
        if (def.range.limited) {
            const QString low = QString::number(def.range.low, 'f', def.range.decimals);
            const QString high = QString::number(def.range.high, 'f', def.range.decimals);
            const char* unit = def.kind == SettingKind::Volts        ? " V"
                               : def.kind == SettingKind::Correction ? " degrees"
                                                                     : "";
            return QStringLiteral("%1 to %2%3").arg(low, high, QLatin1String(unit));
        }
        return QStringLiteral("0 to 4294967295");
    case SettingKind::Registration:
        return QStringLiteral("up to 11 characters");
    case SettingKind::Colour:
        return QStringLiteral("#rrggbb or #aarrggbb");
    case SettingKind::Icao:
        return QStringLiteral("six hexadecimal digits");
    case SettingKind::Choice:
        if (def.choices.by_code) {
            QStringList codes;
            for (const SettingChoice& c : def.choices) {
                codes << QString::fromUtf8(c.text).left(2);
            }
            return codes.join(QStringLiteral(", ")) + QStringLiteral(" (or the whole text)");
        }
        return choice_texts(def.choices);
    }
    return QString();
}

std::vector<uint32_t> setting_words(const Settings_t& record, size_t setting) {
    Settings_t copy = record;
    const SettingDef& def = kSettings.at(setting);
    std::vector<uint32_t> words;
    for (int i = 0; i < def.count; ++i) {
        words.push_back(
            settings_get_value(&copy, static_cast<settings_struct_index>(def.first + i)));
    }
    return words;
}

QString human_value(const Settings_t& record, size_t setting) {
    const std::vector<uint32_t> words = setting_words(record, setting);
    const uint32_t word = words.front();
    const SettingDef& def = kSettings.at(setting);
    switch (def.kind) {
    case SettingKind::Units:
        return units_text(word);
    case SettingKind::Speed:
    case SettingKind::Number:
        return QString::number(word);
    case SettingKind::Volts:
        return volts_text(word);
    case SettingKind::Registration:
        return registration_text(words);
    case SettingKind::Colour:
        return colour_text(word);
    case SettingKind::Correction:
        return float_text(word);
    case SettingKind::Icao:
        return icao_text(word);
    case SettingKind::Choice:
        return choice_text(def.choices, word);
    }
    return QString();
}

bool parse_human(size_t setting, const QString& text, ValueLimits limits,
                 std::vector<uint32_t>* words, QString* error) {
    const SettingDef& def = kSettings.at(setting);
    std::vector<uint32_t> parsed;
    QString why;
    bool ok = false;
    if (def.kind == SettingKind::Registration) {
        ok = parse_registration(text, &parsed);
    } else {
        uint32_t word = 0;
        ok = parse_single(def, text, &word, &why);
        parsed.assign(1, word);
    }
    if (!ok) {
        if (error != nullptr) {
            *error = !why.isEmpty() ? why
                                    : QStringLiteral("%1 is not %2")
                                          .arg(quoted(text), QString::fromUtf8(def.accepted));
        }
        return false;
    }
    uint32_t own = 0;
    if (limits == ValueLimits::Form && def.range.limited && !parse_own_word(text, &own) &&
        !in_range(def.range, def.kind, parsed.front())) {
        if (error != nullptr) {
            *error = QStringLiteral("%1 is out of range (%2 to %3)")
                         .arg(shown(text.trimmed()), QString::number(def.range.low),
                              QString::number(def.range.high));
        }
        return false;
    }
    if (words != nullptr) {
        *words = parsed;
    }
    return true;
}

bool word_fits(settings_struct_index index, uint32_t word) {
    switch (kSettings[setting_of_element(index)].kind) {
    case SettingKind::Speed:
        return word <= 0xFF;
    case SettingKind::Volts:
        return word <= 0xFFFF;
    default:
        break;
    }
    return true;
}
