// A setting's words and the values of the controls that show it in the window: spin boxes and
// sliders, lists, colour buttons and the text fields. A word a control cannot show as the
// record holds it shows as the nearest value the control has; read back, the control then
// gives other words, which is how the window tells such values apart. Settings are indices
// into settings_table().
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

// A number setting (Speed, Volts, Number, Correction) as its control shows it, within the
// setting's range: a whole number with a control as a signed 32-bit one, volts from tenths, a
// correction that is not a number as none.
double control_number(size_t setting, uint32_t word);
// The word of a control's value (taken within the range): volts to tenths truncated toward
// zero, a correction narrowed to a single.
uint32_t number_word(size_t setting, double value);

// The item a Choice setting's control shows for the word, and the word of an item (an item
// beyond the list: that of the item shown for unlisted words).
int choice_item(size_t setting, uint32_t word);
uint32_t choice_word(size_t setting, int item);

// The item of a units group (into unit_groups()) shown for a units word, and the word with that
// group set to an item; every other bit stays as it is.
int unit_item(size_t group, uint32_t units);
uint32_t units_with_item(uint32_t units, size_t group, int item);

// A colour as its button shows it, "#rrggbb" in lower case: the alpha byte is not shown. The
// word of a shown colour is opaque.
QString colour_field(uint32_t word);
bool colour_field_word(const QString& field, uint32_t* word);

// The registration (its text as human_value gives it) as a nationality prefix from the list
// and the rest: the first listed prefix it starts with, else "N" and its first ten characters.
struct RegistrationFields {
    QString prefix;
    QString number;
};
RegistrationFields registration_fields(const QString& registration);
// The first listed prefix the registration starts with, or "".
QString registration_listed_prefix(const QString& registration);
// The three words of a prefix and number: at most 11 Latin-1 characters, up to the first NUL,
// zero-padded, byte 11 zero; all zero for an empty number.
std::array<uint32_t, 3> registration_words(const QString& prefix, const QString& number);

// The ICAO address field: the low 24 bits as six upper-case hexadecimal digits; read back,
// hexadecimal digits or else a decimal number, to its low 24 bits, and 0 for anything else.
QString icao_field(uint32_t word);
uint32_t icao_field_word(const QString& field);
