#include "settings/json_keys.h"

#include <QSet>
#include <algorithm>
#include <vector>

namespace {

// An object or array being read, and where it stands in the text.
struct Level {
    bool object = false;
    QString path;
    QSet<QString> keys;  // an object's keys met so far
    QString key;         // an object's member being read
    bool expect_key = false;
    int index = 0;  // an array's element being read
};

QString joined(const QString& path, const QString& key) {
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

// Where a value that starts now stands.
QString value_path(const Level& level) {
    return level.object ? joined(level.path, level.key)
                        : QStringLiteral("%1[%2]").arg(level.path).arg(level.index);
}

ushort hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<ushort>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<ushort>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<ushort>(c - 'A' + 10);
    }
    return 0;
}

// A string's text, read from just past its opening quote; *at ends past its closing quote.
// A \uXXXX escape is one UTF-16 unit, so a surrogate pair written as two escapes and the same
// character written as UTF-8 compare equal.
QString string_at(const QByteArray& text, int* at) {
    QString decoded;
    int i = *at;
    int run = i;  // the first byte not yet decoded; UTF-8 never holds '\\' or '"' in a character
    while (i < text.size() && text[i] != '"') {
        if (text[i] != '\\') {
            ++i;
            continue;
        }
        decoded += QString::fromUtf8(text.constData() + run, i - run);
        const char escape = i + 1 < text.size() ? text[i + 1] : '\0';
        i += 2;
        switch (escape) {
        case 'b':
            decoded += QLatin1Char('\b');
            break;
        case 'f':
            decoded += QLatin1Char('\f');
            break;
        case 'n':
            decoded += QLatin1Char('\n');
            break;
        case 'r':
            decoded += QLatin1Char('\r');
            break;
        case 't':
            decoded += QLatin1Char('\t');
            break;
        case 'u': {
            ushort unit = 0;
            for (int k = 0; k < 4 && i < text.size(); ++k, ++i) {
                unit = static_cast<ushort>(unit << 4 | hex_digit(text[i]));
            }
            decoded += QChar(unit);
            break;
        }
        default:  // \" \\ and \/ stand for themselves
            decoded += QLatin1Char(escape);
            break;
        }
        run = i;
    }
    // A text cut inside an escape ends the string where the text ends.
    const int end = std::min(i, text.size());
    run = std::min(run, end);
    decoded += QString::fromUtf8(text.constData() + run, end - run);
    *at = i + 1;
    return decoded;
}

}  // namespace

QString json_repeated_key(const QByteArray& text) {
    std::vector<Level> levels;
    int i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            ++i;
            const QString s = string_at(text, &i);
            if (!levels.empty() && levels.back().expect_key) {
                Level& level = levels.back();
                if (level.keys.contains(s)) {
                    return joined(level.path, s);
                }
                level.keys.insert(s);
                level.key = s;
                level.expect_key = false;
            }
            continue;
        }
        if (c == '{' || c == '[') {
            Level level;
            level.object = c == '{';
            level.expect_key = level.object;
            level.path = levels.empty() ? QString() : value_path(levels.back());
            levels.push_back(level);
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            levels.pop_back();
        } else if (c == ',' && !levels.empty()) {
            Level& level = levels.back();
            level.expect_key = level.object;
            ++level.index;
        }
        ++i;
    }
    return QString();
}
