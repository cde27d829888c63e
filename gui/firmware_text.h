// The unit's firmware as the window words it: "firmware 0.2.12", "firmware 0.2.12 rc 5", or
// "legacy firmware" for a unit that reports no version (its handshake records 0.0.0).
#pragma once

#include <QString>

#include "EFIS_shared/firmware.h"

inline QString firmwareText(const fwversion_t& v) {
    if (v.version == 0) {
        return QStringLiteral("legacy firmware");
    }
    QString text = QStringLiteral("firmware %1.%2.%3")
                       .arg(v.fields.major)
                       .arg(v.fields.minor)
                       .arg(v.fields.patch);
    if (v.fields.rc != 0) {
        text += QStringLiteral(" rc %1").arg(v.fields.rc);
    }
    return text;
}
