// The settings as a user, a settings file and the window see them: stable names, the elements
// each one covers, what kind of value it is, the values its control offers, and its value in
// the form's own terms. Plain C++ with Qt Core strings.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "EFIS_shared/settings_types.h"

// How a setting's words read in the form's terms.
enum class SettingKind {
    Units,         // the units bits: one item from each of four groups
    Speed,         // a V-speed, a whole number
    Volts,         // tenths of a volt, shown in volts
    Registration,  // up to 11 Latin-1 characters over three words, first byte most significant
    Colour,        // 0xAARRGGBB; the form shows the red, green and blue only
    Number,        // a whole number
    Correction,    // degrees as an IEEE 754 single
    Icao,          // a 24-bit address as six hexadecimal digits
    Choice,        // a word from a list
};

// The values the window's control for a setting offers, in the form's terms (knots, volts,
// degrees, slider steps). A setting chosen from a list, typed as text or without a control
// has none.
struct SettingRange {
    bool limited;
    double low;
    double high;
    int decimals;  // digits after the point the control shows and keeps
    double step;   // one arrow key or wheel notch
};

// One item of a list, in the order its control shows it.
struct SettingChoice {
    uint32_t word;
    const char* text;  // UTF-8, as the form's control shows it
};

struct ChoiceList {
    const SettingChoice* items;
    int count;
    // A word no item has shows as this item; kNearestItem: as the item whose position is
    // nearest the word read as a signed number.
    int unlisted;
    // An item may also be given by the first two characters of its text ("A5").
    bool by_code;

    const SettingChoice* begin() const { return items; }
    const SettingChoice* end() const { return items + count; }
};

inline constexpr int kNearestItem = -1;

struct SettingDef {
    const char* name;             // stable snake-case name, e.g. "vne"
    settings_struct_index first;  // first element it covers
    int count;                    // elements covered: 3 for the registration, else 1
    bool identity;                // belongs to the aircraft's identity, not to its display
    SettingKind kind;
    SettingRange range;
    ChoiceList choices;    // the list of a Choice setting, else empty
    const char* accepted;  // what a value in the form's terms may be, for messages
};

// 34 settings covering the 36 data elements, in index order.
constexpr size_t kSettingCount = 34;
const std::array<SettingDef, kSettingCount>& settings_table();

// The setting of that name, or -1.
int setting_by_name(const QString& name, Qt::CaseSensitivity cs = Qt::CaseSensitive);

// The values a user may give the setting, on one line: "0 to 240", "5.0 to 65.0 V",
// "North Up, Track Up".
QString setting_values_text(size_t setting);
// The setting covering the data element.
size_t setting_of_element(settings_struct_index index);

// The four groups of the units word (airspeed, altitude, temperature, pressure); each item's
// word is its one bit, and with none of them set the list's unlisted item shows.
struct UnitGroup {
    ChoiceList items;
    // With several bits set, the last of them shows, else the first.
    bool last_wins;
};
constexpr size_t kUnitGroupCount = 4;
const std::array<UnitGroup, kUnitGroupCount>& unit_groups();

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
