#include "settings/setting_names.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <cstring>

#include "EFIS_shared/get_set.h"
#include "settings/word_text.h"

namespace {

// How a setting's words read in the form's terms.
enum class Kind {
    Units,
    Speed,
    Volts,
    Registration,
    Colour,
    Number,
    Correction,
    Icao,
    IcaoType,
    Emitter,
    TermResistor,
    MapView,
};

constexpr SettingRange kUnlimited{false, 0, 0};

// The ranges are those of the form's spin boxes and sliders (mainwindow.ui).
const std::array<SettingDef, kSettingCount> kSettings = {{
    {"units", UNITS_VALUE_INDEX, 1, false, kUnlimited},
    {"vmin", VMIN_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vs0", VS0_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vs1", VS1_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vfe", VFE_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vn0", VN0_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vne", VNE_INDEX, 1, false, SettingRange{true, 0, 240}},
    {"vref", APPROACHSPEED_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"vlo", VLO_INDEX, 1, false, SettingRange{true, 0, 255}},
    {"min_volts_warning", MIN_VOLTS_INDEX, 1, false, SettingRange{true, 5, 65}},
    {"max_volts_warning", MAX_VOLTS_INDEX, 1, false, SettingRange{true, 5, 65}},
    {"registration", REGISTRATION_1_INDEX, 3, true, kUnlimited},
    {"sky_color_0", SKY_COLOR_0_INDEX, 1, false, kUnlimited},
    {"sky_color_1", SKY_COLOR_1_INDEX, 1, false, kUnlimited},
    {"ground_color_0", GROUND_COLOR_0_INDEX, 1, false, kUnlimited},
    {"ground_color_1", GROUND_COLOR_1_INDEX, 1, false, kUnlimited},
    {"approach_indicator_color", APPROACH_COLOR_INDEX, 1, false, kUnlimited},
    {"airplane_color", AIRPLANE_COLOR_INDEX, 1, false, kUnlimited},
    {"green_arc_color", GREEN_ARC_COLOR_INDEX, 1, false, kUnlimited},
    {"yellow_arc_color", YELLOW_ARC_COLOR_INDEX, 1, false, kUnlimited},
    {"red_arc_color", RED_ARC_COLOR_INDEX, 1, false, kUnlimited},
    {"gear_indicator_color", GEAR_INDI_COLOR_INDEX, 1, false, kUnlimited},
    {"backlight_brightness", BACKLIGHT_BRIGHTNESS_INDEX, 1, false, SettingRange{true, 0, 21}},
    {"roll_correction", ROLL_CORRECTION_INDEX, 1, false, SettingRange{true, -90, 90}},
    {"pitch_correction", PITCH_CORRECTION_INDEX, 1, false, SettingRange{true, -90, 90}},
    {"min_volts_alert", MIN_VOLTS_ALERT_INDEX, 1, false, SettingRange{true, 5, 65}},
    {"max_volts_alert", MAX_VOLTS_ALERT_INDEX, 1, false, SettingRange{true, 5, 65}},
    {"text_bg_alpha", TEXT_BG_ALPHA_INDEX, 1, false, SettingRange{true, 0, 254}},
    {"use_mag_heading", USE_MAG_INDEX, 1, false, kUnlimited},
    {"ownship_icao", OWNSHIP_ICAO_INDEX, 1, true, kUnlimited},
    {"icao_address_type", ICAO_ADDR_TYPE_INDEX, 1, true, kUnlimited},
    {"emitter_cat", EMITTER_CAT_INDEX, 1, true, kUnlimited},
    {"termination_resistor", TERM_RESISTOR_INDEX, 1, false, kUnlimited},
    {"map_view", MAP_DIR_INDEX, 1, false, kUnlimited},
}};

Kind kind_of(settings_struct_index first) {
    switch (first) {
    case UNITS_VALUE_INDEX:
        return Kind::Units;
    case MIN_VOLTS_INDEX:
    case MAX_VOLTS_INDEX:
    case MIN_VOLTS_ALERT_INDEX:
    case MAX_VOLTS_ALERT_INDEX:
        return Kind::Volts;
    case REGISTRATION_1_INDEX:
        return Kind::Registration;
    case ROLL_CORRECTION_INDEX:
    case PITCH_CORRECTION_INDEX:
        return Kind::Correction;
    case BACKLIGHT_BRIGHTNESS_INDEX:
    case TEXT_BG_ALPHA_INDEX:
    case USE_MAG_INDEX:
        return Kind::Number;
    case OWNSHIP_ICAO_INDEX:
        return Kind::Icao;
    case ICAO_ADDR_TYPE_INDEX:
        return Kind::IcaoType;
    case EMITTER_CAT_INDEX:
        return Kind::Emitter;
    case TERM_RESISTOR_INDEX:
        return Kind::TermResistor;
    case MAP_DIR_INDEX:
        return Kind::MapView;
    default:
        break;
    }
    return first >= VMIN_INDEX && first <= VLO_INDEX ? Kind::Speed : Kind::Colour;
}

struct Choice {
    uint32_t word;
    const char* text;  // UTF-8, as the form's control shows it
};

// The three speed units and the three pairs of the units word, bit by bit.
const Choice kAirspeed[] = {{1u << 0, "MPH"}, {1u << 1, "Knots"}, {1u << 2, "KPH"}};
const Choice kAltitude[] = {{1u << 3, "Feet"}, {1u << 4, "Meters"}};
const Choice kTemperature[] = {{1u << 5, "Fahrenheit"}, {1u << 6, "Celsius"}};
const Choice kPressure[] = {{1u << 7, "InHg"}, {1u << 8, "Mbar"}};
constexpr uint32_t kUnitBits = 0x1FF;

const Choice kIcaoType[] = {{0, "Use ICAO #"}, {1, "Random ICAO #"}};
const Choice kTermResistor[] = {{1, "Enable"}, {0, "Disable"}};
const Choice kMapView[] = {{0, "North Up"}, {1, "Track Up"}};
const Choice kEmitter[] = {
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
const Choice* choice_of_word(const Choice (&choices)[N], uint32_t word) {
    for (const Choice& c : choices) {
        if (c.word == word) {
            return &c;
        }
    }
    return nullptr;
}

// Surrounding blanks are not part of a choice: one emitter text ends in a blank.
template <size_t N>
const Choice* choice_of_text(const Choice (&choices)[N], const QString& text) {
    const QString wanted = text.trimmed();
    for (const Choice& c : choices) {
        if (QString::fromUtf8(c.text).trimmed() == wanted) {
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

template <size_t N>
const Choice* set_choice(const Choice (&choices)[N], uint32_t word) {
    const Choice* found = nullptr;
    for (const Choice& c : choices) {
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
    const Choice* parts[] = {set_choice(kAirspeed, word), set_choice(kAltitude, word),
                             set_choice(kTemperature, word), set_choice(kPressure, word)};
    QStringList texts;
    for (const Choice* c : parts) {
        if (c == nullptr) {
            return hex_word(word);
        }
        texts << QString::fromUtf8(c->text);
    }
    return texts.join(QStringLiteral(", "));
}

bool parse_units(const QString& text, uint32_t* word) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return false;
    }
    const Choice* chosen[] = {
        choice_of_text(kAirspeed, parts[0]), choice_of_text(kAltitude, parts[1]),
        choice_of_text(kTemperature, parts[2]), choice_of_text(kPressure, parts[3])};
    uint32_t value = 0;
    for (const Choice* c : chosen) {
        if (c == nullptr) {
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

template <size_t N>
QString choice_text(const Choice (&choices)[N], uint32_t word) {
    const Choice* c = choice_of_word(choices, word);
    return c != nullptr ? QString::fromUtf8(c->text) : hex_word(word);
}

template <size_t N>
bool parse_choice(const Choice (&choices)[N], const QString& text, uint32_t* word) {
    const Choice* c = choice_of_text(choices, text);
    if (c == nullptr) {
        return false;
    }
    *word = c->word;
    return true;
}

// An emitter category by its text or by its code alone ("A5").
bool parse_emitter(const QString& text, uint32_t* word) {
    if (parse_choice(kEmitter, text, word)) {
        return true;
    }
    for (const Choice& c : kEmitter) {
        if (QString::fromUtf8(c.text).left(2).compare(text.trimmed(), Qt::CaseInsensitive) == 0) {
            *word = c.word;
            return true;
        }
    }
    return false;
}

QString expected(Kind kind) {
    switch (kind) {
    case Kind::Units:
        return QStringLiteral("four unit texts such as \"Knots, Feet, Fahrenheit, InHg\"");
    case Kind::Speed:
        return QStringLiteral("a whole number from 0 to 255");
    case Kind::Volts:
        return QStringLiteral("volts with at most one decimal, from 0 to 6553.5");
    case Kind::Registration:
        return QStringLiteral("at most 11 Latin-1 characters, none of them NUL or \u00FF");
    case Kind::Colour:
        return QStringLiteral("a colour \"#rrggbb\" or \"#aarrggbb\"");
    case Kind::Number:
        return QStringLiteral("a whole number from 0 to 4294967295");
    case Kind::Correction:
        return QStringLiteral("degrees as a decimal number");
    case Kind::Icao:
        return QStringLiteral("six hexadecimal digits");
    case Kind::IcaoType:
        return QStringLiteral("\"Use ICAO #\" or \"Random ICAO #\"");
    case Kind::Emitter:
        return QStringLiteral("an emitter category such as \"A1 : Light (< 15.5k lbs)\" or \"A1\"");
    case Kind::TermResistor:
        return QStringLiteral("\"Enable\" or \"Disable\"");
    case Kind::MapView:
        return QStringLiteral("\"North Up\" or \"Track Up\"");
    }
    return QString();
}

// Parses one word of a single-element setting; a word the form's terms cannot state may be
// given as itself where human_value would write it so.
bool parse_single(Kind kind, const QString& text, uint32_t* word) {
    switch (kind) {
    case Kind::Units:
        return parse_units(text, word) || parse_own_word(text, word);
    case Kind::Speed:
        return parse_whole(text, 0xFF, word);
    case Kind::Volts:
        return parse_volts(text, word);
    case Kind::Colour:
        return parse_colour(text, word);
    case Kind::Number:
        return parse_whole(text, 0xFFFFFFFFu, word);
    case Kind::Correction:
        return parse_float_text(text, word) || parse_own_word(text, word);
    case Kind::Icao:
        return parse_icao(text, word) || parse_own_word(text, word);
    case Kind::IcaoType:
        return parse_choice(kIcaoType, text, word) || parse_own_word(text, word);
    case Kind::Emitter:
        return parse_emitter(text, word) || parse_own_word(text, word);
    case Kind::TermResistor:
        return parse_choice(kTermResistor, text, word) || parse_own_word(text, word);
    case Kind::MapView:
        return parse_choice(kMapView, text, word) || parse_own_word(text, word);
    case Kind::Registration:
        break;
    }
    return false;
}

// The word in the form's terms, to compare with the control's range; NaN where it has none.
double form_value(Kind kind, uint32_t word) {
    switch (kind) {
    case Kind::Speed:
    case Kind::Number:
        return static_cast<double>(word);
    case Kind::Volts:
        return word / 10.0;
    case Kind::Correction: {
        float f = 0;
        std::memcpy(&f, &word, sizeof(f));
        return static_cast<double>(f);
    }
    default:
        break;
    }
    return std::nan("");
}

bool in_range(const SettingRange& range, Kind kind, uint32_t word) {
    const double value = form_value(kind, word);
    return value >= range.low && value <= range.high;
}

}  // namespace

const std::array<SettingDef, kSettingCount>& settings_table() {
    return kSettings;
}

int setting_by_name(const QString& name) {
    for (size_t s = 0; s < kSettings.size(); ++s) {
        if (name == QLatin1String(kSettings[s].name)) {
            return static_cast<int>(s);
        }
    }
    return -1;
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
    switch (kind_of(kSettings.at(setting).first)) {
    case Kind::Units:
        return units_text(word);
    case Kind::Speed:
    case Kind::Number:
        return QString::number(word);
    case Kind::Volts:
        return volts_text(word);
    case Kind::Registration:
        return registration_text(words);
    case Kind::Colour:
        return colour_text(word);
    case Kind::Correction:
        return float_text(word);
    case Kind::Icao:
        return icao_text(word);
    case Kind::IcaoType:
        return choice_text(kIcaoType, word);
    case Kind::Emitter:
        return choice_text(kEmitter, word);
    case Kind::TermResistor:
        return choice_text(kTermResistor, word);
    case Kind::MapView:
        return choice_text(kMapView, word);
    }
    return QString();
}

bool parse_human(size_t setting, const QString& text, ValueLimits limits,
                 std::vector<uint32_t>* words, QString* error) {
    const SettingDef& def = kSettings.at(setting);
    const Kind kind = kind_of(def.first);
    std::vector<uint32_t> parsed;
    bool ok = false;
    if (kind == Kind::Registration) {
        ok = parse_registration(text, &parsed);
    } else {
        uint32_t word = 0;
        ok = parse_single(kind, text, &word);
        parsed.assign(1, word);
    }
    if (!ok) {
        if (error != nullptr) {
            *error = QStringLiteral("%1 is not %2").arg(quoted(text), expected(kind));
        }
        return false;
    }
    uint32_t own = 0;
    if (limits == ValueLimits::Form && def.range.limited && !parse_own_word(text, &own) &&
        !in_range(def.range, kind, parsed.front())) {
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
    if (index >= VMIN_INDEX && index <= VLO_INDEX) {
        return word <= 0xFF;
    }
    if (kind_of(index) == Kind::Volts) {
        return word <= 0xFFFF;
    }
    return true;
}
