#include "settings/setting_controls.h"

#include <QByteArray>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "settings/registration_prefix.h"
#include "settings/setting_names.h"

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// What the window's controls offer: the range where the setting has one, else every word.
double within(const SettingRange& range, double value, double low, double high) {
    return range.limited ? std::clamp(value, range.low, range.high) : std::clamp(value, low, high);
}

// Four registration bytes as one element value, the first byte most significant.
uint32_t pack_registration(const char* bytes) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word = word << 8 | static_cast<unsigned char>(bytes[i]);
    }
    return word;
}

}  // namespace

double control_number(size_t setting, uint32_t word) {
    const SettingDef& def = settings_table().at(setting);
    double value = 0;
    switch (def.kind) {
    case SettingKind::Volts:
        value = word / 10.0;
        break;
    case SettingKind::Correction: {
        float f = 0;
        std::memcpy(&f, &word, sizeof(f));
        // A correction that is not a number has no nearest limit.
        value = std::isnan(f) ? 0.0 : static_cast<double>(f);
        break;
    }
    default:
        // A control of whole numbers reads the word as a signed one: a word from 2^31 up shows
        // as the lowest value.
        value = def.range.limited ? static_cast<double>(static_cast<int32_t>(word))
                                  : static_cast<double>(word);
        break;
    }
    return def.range.limited ? std::clamp(value, def.range.low, def.range.high) : value;
}

uint32_t number_word(size_t setting, double value) {
    const SettingDef& def = settings_table().at(setting);
    if (std::isnan(value)) {
        value = 0;
    }
    switch (def.kind) {
    case SettingKind::Volts:
        return static_cast<uint32_t>(
            static_cast<int32_t>(within(def.range, value, 0, 6553.5) * 10.0));
    case SettingKind::Correction: {
        const auto narrowed = static_cast<float>(within(def.range, value, -3.4e38, 3.4e38));
        uint32_t bits = 0;
        std::memcpy(&bits, &narrowed, sizeof(bits));
        return bits;
    }
    default:
        return static_cast<uint32_t>(
            static_cast<int64_t>(within(def.range, value, 0, 0xFFFFFFFFu)));
    }
}

int choice_item(size_t setting, uint32_t word) {
    const ChoiceList& list = settings_table().at(setting).choices;
    for (int i = 0; i < list.count; ++i) {
        if (list.items[i].word == word) {
            return i;
        }
    }
    if (list.unlisted == kNearestItem) {
        return std::clamp(static_cast<int>(static_cast<int32_t>(word)), 0, list.count - 1);
    }
    return list.unlisted;
}

uint32_t choice_word(size_t setting, int item) {
    const ChoiceList& list = settings_table().at(setting).choices;
    if (item < 0 || item >= list.count) {
        item = list.unlisted == kNearestItem ? std::clamp(item, 0, list.count - 1) : list.unlisted;
    }
    return list.items[item].word;
}

int unit_item(size_t group, uint32_t units) {
    const UnitGroup& g = unit_groups().at(group);
    int shown = -1;
    for (int i = 0; i < g.items.count; ++i) {
        if ((units & g.items.items[i].word) != 0 && (shown < 0 || g.last_wins)) {
            shown = i;
        }
    }
    return shown < 0 ? g.items.unlisted : shown;
}

uint32_t units_with_item(uint32_t units, size_t group, int item) {
    const ChoiceList& items = unit_groups().at(group).items;
    for (int i = 0; i < items.count; ++i) {
        units &= ~items.items[i].word;
    }
    if (item >= 0 && item < items.count) {
        units |= items.items[item].word;
    }
    return units;
}

QString colour_field(uint32_t word) {
    return QStringLiteral("#%1").arg(word & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
}

bool colour_field_word(const QString& field, uint32_t* word) {
    static const QRegularExpression pattern(QStringLiteral("^#([0-9a-fA-F]{6})$"));
    const QRegularExpressionMatch match = pattern.match(field);
    if (!match.hasMatch()) {
        return false;
    }
    *word = match.captured(1).toUInt(nullptr, 16) | kOpaque;
    return true;
}

QString registration_listed_prefix(const QString& registration) {
    for (const char* listed : REGISTRATION_PREFIXES) {
        const QString candidate = QString::fromLatin1(listed);
        if (registration.startsWith(candidate, Qt::CaseSensitive)) {
            return candidate;
        }
    }
    return QString();
}

RegistrationFields registration_fields(const QString& registration) {
    const QString prefix = registration_listed_prefix(registration);
    if (prefix.isEmpty()) {
        return {QStringLiteral("N"), registration.left(10)};
    }
    return {prefix, registration.mid(prefix.size()).left(std::max(0, 11 - prefix.size()))};
}

std::array<uint32_t, 3> registration_words(const QString& prefix, const QString& number) {
    char reg[12];
    std::memset(reg, 0, sizeof(reg));
    if (!number.isEmpty()) {
        const QByteArray bytes = (prefix + number).left(11).toLatin1();
        const int count = std::min(static_cast<int>(bytes.size()), 11);
        for (int i = 0; i < count && bytes.at(i) != '\0'; ++i) {
            reg[i] = bytes.at(i);
        }
    }
    return {pack_registration(reg), pack_registration(reg + 4), pack_registration(reg + 8)};
}

QString icao_field(uint32_t word) {
    return QStringLiteral("%1").arg(word & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper();
}

uint32_t icao_field_word(const QString& field) {
    const QString text = field.trimmed();
    if (text.isEmpty()) {
        return 0;
    }
    static const QRegularExpression hexDigits(QStringLiteral("^[\\da-fA-F]+$"));
    bool ok = false;
    const uint32_t number =
        hexDigits.match(text).hasMatch() ? text.toUInt(&ok, 16) : text.toUInt(&ok, 10);
    return ok ? (number & 0xFFFFFFu) : 0;
}
