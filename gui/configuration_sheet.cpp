#include "gui/configuration_sheet.h"

#include <QBuffer>
#include <QFont>
#include <QPdfWriter>
#include <QTextDocument>

#include "settings/file_write.h"
#include "settings/logbook.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"

namespace {

constexpr size_t kSheetEntries = 10;

// The form's areas, each a test on a setting.
struct SheetGroup {
    const char* title;
    bool (*holds)(const SettingDef&);
};

const SheetGroup kGroups[] = {
    {"Aircraft identity", [](const SettingDef& d) { return d.identity; }},
    {"Airspeeds", [](const SettingDef& d) { return !d.identity && d.kind == SettingKind::Speed; }},
    {"Voltages", [](const SettingDef& d) { return !d.identity && d.kind == SettingKind::Volts; }},
    {"Colours", [](const SettingDef& d) { return !d.identity && d.kind == SettingKind::Colour; }},
    {"Attitude corrections",
     [](const SettingDef& d) { return !d.identity && d.kind == SettingKind::Correction; }},
    {"Display, units and bus",
     [](const SettingDef& d) {
         return !d.identity && d.kind != SettingKind::Speed && d.kind != SettingKind::Volts &&
                d.kind != SettingKind::Colour && d.kind != SettingKind::Correction;
     }},
};

QString esc(const QString& text) {
    return text.toHtmlEscaped();
}

}  // namespace

QPageSize::PageSizeId sheet_page_size(const QLocale& locale) {
    static const QLocale::Country letter[] = {
        QLocale::UnitedStates, QLocale::Canada,    QLocale::Mexico,   QLocale::PuertoRico,
        QLocale::Philippines,  QLocale::Chile,     QLocale::Colombia, QLocale::Venezuela,
        QLocale::CostaRica,    QLocale::Guatemala, QLocale::Panama,   QLocale::DominicanRepublic};
    for (const QLocale::Country country : letter) {
        if (locale.country() == country) {
            return QPageSize::Letter;
        }
    }
    return locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                   : QPageSize::A4;
}

QString sheet_html(const SheetContent& c) {
    const size_t registration =
        static_cast<size_t>(setting_by_name(QStringLiteral("registration")));
    QString html =
        QStringLiteral(
            "<html><body style=\"font-family: sans-serif; font-size: 9pt\">"
            "<h2>EFIS configuration sheet</h2>"
            "<table cellpadding=\"2\">"
            "<tr><td><b>Aircraft registration</b></td><td>%1</td></tr>"
            "<tr><td><b>Unit serial number</b></td><td>%2</td></tr>"
            "<tr><td><b>Firmware</b></td><td>%3 (%4 generation)</td></tr>"
            "<tr><td><b>Date</b></td><td>%5</td></tr></table>")
            .arg(esc(human_value(c.record, registration)), serial_text(c.serial),
                 esc(firmware_version_text(c.firmware)),
                 c.current_generation ? QStringLiteral("current") : QStringLiteral("legacy"),
                 c.date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
    for (const SheetGroup& group : kGroups) {
        html += QStringLiteral(
                    "<h3>%1</h3><table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
                    "width=\"100%\">")
                    .arg(QLatin1String(group.title));
        for (size_t s = 0; s < settings_table().size(); ++s) {
            const SettingDef& def = settings_table()[s];
            if (!group.holds(def)) {
                continue;
            }
            QString value = esc(human_value(c.record, s));
            QString swatch;
            if (def.kind == SettingKind::Colour) {
                const uint32_t word = setting_words(c.record, s).front();
                value += QStringLiteral(" (%1)").arg(hex_word(word));
                swatch = QStringLiteral("<td width=\"40\" bgcolor=\"#%1\">&nbsp;</td>")
                             .arg(word & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
            }
            html += QStringLiteral("<tr><td width=\"40%\">%1</td><td>%2</td>%3</tr>")
                        .arg(QLatin1String(def.name), value, swatch);
        }
        html += QStringLiteral("</table>");
    }

    html += QStringLiteral("<h3>Last logbook entries</h3>");
    if (c.entries.empty()) {
        html += QStringLiteral("<p>No logbook entries for this unit.</p>");
    } else {
        html += QStringLiteral(
            "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">"
            "<tr><th>Time (UTC)</th><th>Action</th><th>Outcome</th><th>Changes</th></tr>");
        size_t shown = 0;
        for (auto it = c.entries.rbegin(); it != c.entries.rend() && shown < kSheetEntries;
             ++it, ++shown) {
            const QDateTime time = QDateTime::fromString(
                it->value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                        .arg(time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                             esc(logbook_action_text(*it)), esc(logbook_outcome_text(*it)),
                             esc(logbook_changes_text(*it)));
        }
        html += QStringLiteral("</table>");
    }
    html += QStringLiteral(
        "<p><br/><br/>Checked by: ________________________________ &nbsp;&nbsp;&nbsp; "
        "Date: ________________</p></body></html>");
    return html;
}

bool write_configuration_sheet(const QString& path, const SheetContent& content,
                               QPageSize::PageSizeId page, QString* error) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(page));
        // QTextDocument::print lays the sheet out within margins of its own (2 cm).
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setTitle(
            QStringLiteral("EFIS configuration sheet %1").arg(serial_text(content.serial)));
        writer.setCreator(QStringLiteral("efis-config"));
        QTextDocument document;
        // Without ligatures, text taken from the PDF reads as printed ("0xff", not "0xﬀ").
        QFont font = document.defaultFont();
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        document.setHtml(sheet_html(content));
        document.print(&writer);
    }
    buffer.close();
    if (buffer.data().isEmpty()) {
        *error = QStringLiteral("nothing was rendered");
        return false;
    }
    return write_file_whole(path, buffer.data(), error);
}
