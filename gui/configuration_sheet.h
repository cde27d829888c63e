// The configuration sheet: the settings a unit holds on paper (PDF), for the aircraft's
// records and an inspector's signature.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QLocale>
#include <QPageSize>
#include <QString>
#include <cstdint>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"

struct SheetContent {
    Settings_t record{};  // what the unit holds, read whole
    uint32_t serial = 0xFFFFFFFFu;
    fwversion_t firmware{};
    bool current_generation = true;
    QDateTime date;
    std::vector<QJsonObject> entries;  // the unit's logbook, oldest first
};

// Letter where it is the paper in use (the Americas' Letter countries, the Philippines), A4
// elsewhere.
QPageSize::PageSizeId sheet_page_size(const QLocale& locale);

// The sheet as HTML: the unit, every setting in the form's terms grouped as on the form
// (colours with a swatch and their word), the last ten logbook entries, newest first, and a
// line for "Checked by" and a date.
QString sheet_html(const SheetContent& content);

// Writes the sheet as a PDF to `path`, whole or not at all; false with *error otherwise.
bool write_configuration_sheet(const QString& path, const SheetContent& content,
                               QPageSize::PageSizeId page, QString* error);
