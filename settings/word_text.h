// Texts of 32-bit words shared by the settings names and the settings file.
#pragma once

#include <QString>
#include <cstdint>

#include "EFIS_shared/firmware.h"

// "0x%08x".
QString hex_word(uint32_t word);
// A unit's serial number as the unit's own log and every text of the tool show it:
// "0x00C0FFEE".
QString serial_text(uint32_t serial);
// "0x" (or "0X") and 1 to 8 hexadecimal digits.
bool parse_hex_word(const QString& text, uint32_t* word);

// A float's bit pattern as the fewest decimal digits that read back as the same float;
// "nan" for the plain quiet NaN, the word itself ("0x%08x") for any other NaN.
QString float_text(uint32_t word);
// A decimal number (exponent allowed), "inf", "-inf" or "nan", narrowed to a float.
bool parse_float_text(const QString& text, uint32_t* word);

// "0.2.12", or "0.2.12-rc3" for a release candidate.
QString firmware_version_text(fwversion_t version);
bool parse_firmware_version(const QString& text, fwversion_t* version);
