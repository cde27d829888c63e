// The settings as a user and a settings file see them: stable names, the elements each one
// covers, and its value in the form's own terms. Plain C++ with Qt Core strings.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "EFIS_shared/settings_types.h"

// The values the window's control for a setting offers, in the form's terms (knots, volts,
// degrees, slider steps). A setting chosen from a list, typed as text or without a control
// has none.
struct SettingRange {
    bool limited;
    double low;
    double high;
};

struct SettingDef {
    const char* name;             // stable snake-case name, e.g. "vne"
    settings_struct_index first;  // first element it covers
    int count;                    // elements covered: 3 for the registration, else 1
    bool identity;                // belongs to the aircraft's identity, not to its display
    SettingRange range;
};

// 34 settings covering the 36 data elements, in index order.
constexpr size_t kSettingCount = 34;
const std::array<SettingDef, kSettingCount>& settings_table();

// The setting of that name, or -1.
int setting_by_name(const QString& name);

// The setting's words as the record holds them, in element order.
std::vector<uint32_t> setting_words(const Settings_t& record, size_t setting);

// The setting's value as the form shows it: "Knots, Feet, Fahrenheit, InHg", "160", "11.8",
// "VHABC", "#87ceeb", "1.5", "ABC123", "Track Up". A word the form's terms cannot state
// exactly (undefined unit bits, a category beyond the list, a NaN other than the plain quiet
// one) is shown as the word itself, "0x%08x". The registration alone can lose bytes: it
// shows the characters up to the first 0x00 or 0xFF (at most 11), so an erased registration
// and an empty one both show "".
QString human_value(const Settings_t& record, size_t setting);

// Which words a value in the form's terms may give: those its control offers, or any the
// element holds (what a file's value beside its raw word, written by human_value, may state).
enum class ValueLimits { Form, Element };

// The inverse of human_value: the setting's words, or false with *error saying why the text
// is not a value of this setting or does not fit it. A word written as itself ("0x%08x",
// where human_value writes it so) is never out of range.
bool parse_human(size_t setting, const QString& text, ValueLimits limits,
                 std::vector<uint32_t>* words, QString* error);

// Whether the element can hold the word: a V-speed at most 255, a voltage at most 65535, any
// word elsewhere.
bool word_fits(settings_struct_index index, uint32_t word);
