// The window's controls and the settings' values in the form's terms (files, efis-cli) are one
// description: every word a control can show reads back from it as itself, and the control
// shows it as the value a file writes.
#include <gtest/gtest.h>

#include <QStringList>
#include <cstring>
#include <vector>

#include "EFIS_shared/get_set.h"
#include "settings/setting_controls.h"
#include "settings/setting_names.h"

namespace {

uint32_t floatWord(float value) {
    uint32_t word = 0;
    std::memcpy(&word, &value, sizeof(word));
    return word;
}

Settings_t recordWith(size_t setting, const std::vector<uint32_t>& words) {
    Settings_t record;
    std::memset(&record, 0, sizeof(record));
    for (size_t i = 0; i < words.size(); ++i) {
        uint32_t word = words[i];
        const auto index = static_cast<settings_struct_index>(settings_table()[setting].first + i);
        EXPECT_TRUE(settings_set_value(&record, index, &word));
    }
    return record;
}

// A number's ends and a value between, as words.
std::vector<uint32_t> numberWords(const SettingDef& def) {
    const double high = def.range.limited ? def.range.high : 4294967295.0;
    switch (def.kind) {
    case SettingKind::Volts:
        return {static_cast<uint32_t>(def.range.low * 10), static_cast<uint32_t>(high * 10), 118};
    case SettingKind::Correction:
        return {floatWord(static_cast<float>(def.range.low)), floatWord(static_cast<float>(high)),
                floatWord(1.3f)};
    default:
        return {static_cast<uint32_t>(def.range.low), static_cast<uint32_t>(high), 7};
    }
}

void checkNumbers(size_t s, const SettingDef& def) {
    for (const uint32_t word : numberWords(def)) {
        const double shown = control_number(s, word);
        EXPECT_EQ(number_word(s, shown), word) << shown;
        std::vector<uint32_t> parsed;
        const QString text = QString::number(shown, 'f', def.range.decimals);
        EXPECT_TRUE(parse_human(s, text, ValueLimits::Form, &parsed, nullptr))
            << text.toStdString();
        EXPECT_EQ(parsed, std::vector<uint32_t>{word}) << text.toStdString();
    }
}

void checkChoices(size_t s, const SettingDef& def) {
    ASSERT_GT(def.choices.count, 1);
    for (int item = 0; item < def.choices.count; ++item) {
        const uint32_t word = def.choices.items[item].word;
        EXPECT_EQ(choice_item(s, word), item);
        EXPECT_EQ(choice_word(s, item), word);
        EXPECT_EQ(human_value(recordWith(s, {word}), s),
                  QString::fromUtf8(def.choices.items[item].text));
    }
}

// Every combination of one item from each group.
void checkUnits(size_t s) {
    const auto& groups = unit_groups();
    for (int combination = 0; combination < 3 * 2 * 2 * 2; ++combination) {
        uint32_t word = 0;
        QStringList texts;
        int rest = combination;
        for (const UnitGroup& group : groups) {
            const SettingChoice& item = group.items.items[rest % group.items.count];
            rest /= group.items.count;
            word |= item.word;
            texts << QString::fromUtf8(item.text);
        }
        uint32_t rebuilt = 0;
        for (size_t g = 0; g < groups.size(); ++g) {
            rebuilt = units_with_item(rebuilt, g, unit_item(g, word));
        }
        EXPECT_EQ(rebuilt, word);
        EXPECT_EQ(human_value(recordWith(s, {word}), s), texts.join(QStringLiteral(", ")));
    }
}

void checkRegistrations(size_t s) {
    for (const char* text : {"", "N12345", "VHABC", "RDPL34101", "C-GABC", "N1234567890"}) {
        std::vector<uint32_t> words;
        ASSERT_TRUE(parse_human(s, QString::fromLatin1(text), ValueLimits::Form, &words, nullptr));
        const RegistrationFields fields = registration_fields(human_value(recordWith(s, words), s));
        const std::array<uint32_t, 3> joined = registration_words(fields.prefix, fields.number);
        EXPECT_EQ(std::vector<uint32_t>(joined.begin(), joined.end()), words) << text;
    }
}

}  // namespace

TEST(SettingControls, EveryWordAControlShowsReadsBackAndShowsAsTheFilesValue) {
    for (size_t s = 0; s < kSettingCount; ++s) {
        const SettingDef& def = settings_table()[s];
        SCOPED_TRACE(def.name);
        switch (def.kind) {
        case SettingKind::Speed:
        case SettingKind::Volts:
        case SettingKind::Number:
        case SettingKind::Correction:
            checkNumbers(s, def);
            break;
        case SettingKind::Choice:
            checkChoices(s, def);
            break;
        case SettingKind::Units:
            checkUnits(s);
            break;
        case SettingKind::Registration:
            checkRegistrations(s);
            break;
        case SettingKind::Colour:
            for (const uint32_t word : {0xFF87CEEBu, 0xFF000000u, 0xFFFFFFFFu}) {
                uint32_t back = 0;
                EXPECT_TRUE(colour_field_word(colour_field(word), &back));
                EXPECT_EQ(back, word);
                EXPECT_EQ(human_value(recordWith(s, {word}), s), colour_field(word));
            }
            break;
        case SettingKind::Icao:
            for (const uint32_t word : {0u, 0xABC123u, 0xFFFFFFu}) {
                EXPECT_EQ(icao_field_word(icao_field(word)), word);
                EXPECT_EQ(human_value(recordWith(s, {word}), s), icao_field(word));
            }
            break;
        }
    }
}
