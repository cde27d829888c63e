#include "settings/word_text.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kQuietNan = 0x7FC00000;
// Halfway between FLT_MAX and 2^128: the least magnitude that rounds to infinity.
constexpr double kFloatOverflow = 0x1.ffffffp+127;

uint32_t word_of(float f) {
    uint32_t word = 0;
    std::memcpy(&word, &f, sizeof(word));
    return word;
}

}  // namespace

QString hex_word(uint32_t word) {
    return QStringLiteral("0x%1").arg(word, 8, 16, QLatin1Char('0'));
}

QString serial_text(uint32_t serial) {
    return QStringLiteral("0x") +
           QString::number(serial, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

bool parse_hex_word(const QString& text, uint32_t* word) {
    static const QRegularExpression kHex(QStringLiteral("^0[xX][0-9a-fA-F]{1,8}$"));
    const QString t = text.trimmed();
    if (!kHex.match(t).hasMatch()) {
        return false;
    }
    *word = t.mid(2).toUInt(nullptr, 16);
    return true;
}

QString float_text(uint32_t word) {
    float f = 0;
    std::memcpy(&f, &word, sizeof(f));
    if (std::isnan(f)) {
        return word == kQuietNan ? QStringLiteral("nan") : hex_word(word);
    }
    // Qt drops the sign of a negative zero.
    if (f == 0.0f && std::signbit(f)) {
        return QStringLiteral("-0");
    }
    QString text;
    for (int digits = 1; digits <= 9; ++digits) {
        text = QString::number(static_cast<double>(f), 'g', digits);
        uint32_t back = 0;
        if (parse_float_text(text, &back) && back == word) {
            break;
        }
    }
    return text;
}

bool parse_float_text(const QString& text, uint32_t* word) {
    // The C locale would take "1,5" as 15: only plain decimals pass.
    static const QRegularExpression kDecimal(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d{1,3})?$"));
    const QString t = text.trimmed();
    if (t == QLatin1String("nan")) {
        *word = kQuietNan;
        return true;
    }
    if (t == QLatin1String("inf") || t == QLatin1String("-inf")) {
        *word = word_of(t.startsWith(QLatin1Char('-')) ? -INFINITY : INFINITY);
        return true;
    }
    if (!kDecimal.match(t).hasMatch()) {
        return false;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(t, &ok);
    // The range is the float's: a decimal that rounds to FLT_MAX (as the shortest text of
    // FLT_MAX does) is FLT_MAX, and only one beyond the halfway point to the next power of
    // two would round to infinity. Narrowing such a value would be undefined.
    if (!ok || std::fabs(value) >= kFloatOverflow) {
        return false;
    }
    *word = word_of(static_cast<float>(value));
    return true;
}

QString firmware_version_text(fwversion_t version) {
    QString text = QStringLiteral("%1.%2.%3")
                       .arg(version.fields.major)
                       .arg(version.fields.minor)
                       .arg(version.fields.patch);
    if (version.fields.rc != 0) {
        text += QStringLiteral("-rc%1").arg(version.fields.rc);
    }
    return text;
}

bool parse_firmware_version(const QString& text, fwversion_t* version) {
    static const QRegularExpression kVersion(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})(?:-rc(\\d{1,3}))?$"));
    const QRegularExpressionMatch m = kVersion.match(text);
    if (!m.hasMatch()) {
        return false;
    }
    uint32_t parts[4] = {};
    for (int i = 0; i < 4; ++i) {
        parts[i] = m.captured(i + 1).toUInt();
        if (parts[i] > 0xFF) {
            return false;
        }
    }
    version->version = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
    return true;
}
