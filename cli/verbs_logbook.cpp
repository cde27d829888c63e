// logbook: a unit's logbook from disk, as a table, JSON or CSV.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "settings/file_write.h"
#include "settings/logbook.h"
#include "settings/word_text.h"

namespace {

// "2026-05-01" (midnight UTC) or an ISO 8601 time, UTC unless it names its zone.
QDateTime parse_since(const QString& text) {
    // QDate reads the date at the start of a longer text too.
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10) {
        return QDateTime(day, QTime(0, 0), Qt::UTC);
    }
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (time.isValid() && time.timeSpec() == Qt::LocalTime) {
        time.setTimeSpec(Qt::UTC);
    }
    return time;
}

}  // namespace

int run_logbook(const CliOptions& options, CliOutput& out, FILE* data_out) {
    const QString dir = logbook_dir();
    QDateTime since;
    if (!options.since.isEmpty()) {
        since = parse_since(options.since);
        if (!since.isValid()) {
            out.error(QStringLiteral("--since: '%1' is not a date (2026-05-01) or a time "
                                     "(2026-05-01T14:00)")
                          .arg(options.since));
            out.result(kExitUsage);
            return kExitUsage;
        }
    }
    uint32_t serial = 0;
    if (options.links.serial) {
        serial = *options.links.serial;
    } else {
        const std::vector<uint32_t> serials = logbook_serials(dir);
        if (serials.size() != 1) {
            QStringList names;
            for (const uint32_t s : serials) {
                names << serial_text(s);
            }
            out.error(serials.empty()
                          ? QStringLiteral("no unit's logbook in %1").arg(dir)
                          : QStringLiteral("%1 units have a logbook (%2); name one with --serial")
                                .arg(serials.size())
                                .arg(names.join(QStringLiteral(", "))));
            const int status = serials.empty() ? kExitFailed : kExitUsage;
            out.result(status);
            return status;
        }
        serial = serials.front();
    }

    const QString path = logbook_path(dir, serial);
    if (!QFileInfo::exists(path)) {
        out.error(QStringLiteral("no logbook of unit %1 in %2").arg(serial_text(serial), dir));
        out.result(kExitFailed);
        return kExitFailed;
    }
    const LogbookRead read = logbook_read(path);
    if (!read.ok) {
        out.error(QStringLiteral("cannot read %1: %2").arg(path, read.error));
        out.result(kExitFailed);
        return kExitFailed;
    }
    if (read.torn_last) {
        out.warning(QStringLiteral("the last line of %1 was cut short (written when the tool "
                                   "stopped) and is skipped")
                        .arg(path));
    }
    if (read.bad_lines > 0) {
        out.warning(QStringLiteral("%1 line(s) of %2 are not logbook entries and are skipped")
                        .arg(read.bad_lines)
                        .arg(path));
    }
    const std::vector<QJsonObject> entries = logbook_since(read.entries, since);

    if (options.csv) {
        QString reason;
        if (!write_stream_whole(data_out, logbook_csv(entries), &reason)) {
            out.error(QStringLiteral("could not write the CSV: %1").arg(reason));
            return kExitFileRefused;
        }
        return kExitDone;
    }
    out.text(QStringLiteral("Logbook of unit %1 (%2 entries)")
                 .arg(serial_text(serial))
                 .arg(entries.size()));
    QJsonArray json;
    for (const QJsonObject& entry : entries) {
        out.text(QStringLiteral("%1  %2  %3  %4")
                     .arg(entry.value(QStringLiteral("time")).toString(),
                          logbook_action_text(entry), logbook_outcome_text(entry),
                          logbook_changes_text(entry))
                     .trimmed());
        json.append(entry);
    }
    out.result(kExitDone, QJsonObject{{QStringLiteral("serial_number"), serial_text(serial)},
                                      {QStringLiteral("file"), path},
                                      {QStringLiteral("entries"), json}});
    return kExitDone;
}
