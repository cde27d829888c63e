// A check QJsonDocument does not make: it keeps the last of two equal keys of an object and
// drops the other without a word, so a line copied for a hand edit and left in twice would
// lose one of them.
#pragma once

#include <QByteArray>
#include <QString>

// The path of the first key that appears twice in one object of a JSON text QJsonDocument
// accepted ("header.serial_number", "settings.registration.raw[1].x"), keys compared after
// their escapes are decoded; empty when there is none.
QString json_repeated_key(const QByteArray& text);
