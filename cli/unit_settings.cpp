// Load, send and save of the unit's settings for the verbs, with their outcomes in words.
#include <QStringList>

#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/comms.h"
#include "settings/logbook.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"

namespace {

QString load_failure(const LoadResult& result) {
    switch (result.status) {
    case LoadStatus::Ok:
        break;
    case LoadStatus::NoLink:
        return QStringLiteral("the link to the unit is down");
    case LoadStatus::ChecksumReadFailed:
        return QStringLiteral("the unit did not answer the request for its settings checksum");
    case LoadStatus::MagicReadFailed:
        return QStringLiteral("the unit did not answer the request for its settings magic number");
    case LoadStatus::VersionReadFailed:
        return QStringLiteral("the unit did not answer the request for its settings version");
    case LoadStatus::CountReadFailed:
        return QStringLiteral("the unit did not answer the request for its settings element count");
    case LoadStatus::InvalidCount:
        return QStringLiteral("the unit reported an invalid settings element count (%1)")
            .arg(result.element_count);
    case LoadStatus::RecordRejected:
        return QStringLiteral("the settings record refused element %1").arg(result.rejected_index);
    case LoadStatus::Cancelled:
        break;
    }
    return QString();
}

template <typename Elements>
QString setting_names_of(const Elements& elements) {
    QStringList names;
    for (const settings_struct_index index : elements) {
        for (const SettingDef& def : settings_table()) {
            const QString name = QString::fromLatin1(def.name);
            if (index >= def.first && index < def.first + def.count && !names.contains(name)) {
                names << name;
            }
        }
    }
    return names.join(QStringLiteral(", "));
}

}  // namespace

int load_unit_settings(CliContext& ctx, UnitRecord* unit, LoadResult* loaded) {
    const LoadResult result = settings_load(ctx.comms, unit, ctx.env.cancel);
    if (loaded != nullptr) {
        *loaded = result;
    }
    if (result.status == LoadStatus::Cancelled) {
        ctx.out.error(QStringLiteral("stopped before the settings were read; nothing was sent"));
        return kExitCancelled;
    }
    // Once the link is gone every value after it is missing: that, not each value, is the
    // cause to name. A record read whole before the link went is still the unit's.
    if (ctx.comms->linkLost() && (result.status != LoadStatus::Ok || !result.unread.empty())) {
        const size_t read = result.status == LoadStatus::Ok
                                ? static_cast<size_t>(SETTINGS_LAST_INDEX) - result.unread.size()
                                : 0;
        ctx.out.error(QStringLiteral("the unit was disconnected after %1 of %2 values")
                          .arg(read)
                          .arg(static_cast<int>(SETTINGS_LAST_INDEX)));
        return kExitFailed;
    }
    if (result.status != LoadStatus::Ok) {
        ctx.out.error(QStringLiteral("cannot read the settings: %1").arg(load_failure(result)));
        return kExitFailed;
    }
    return kExitDone;
}

int send_unit_settings(CliContext& ctx, const Settings_t& working, PendingSet* pending,
                       UnitRecord* unit, QJsonObject* logged) {
    const PendingSet before = *pending;
    const Settings_t held = unit->record;
    const UpdateResult result = settings_update(ctx.comms, working, pending, unit, ctx.env.cancel);
    *logged = logbook_update_action(held, working, before, *pending, result);
    if (result.cancelled) {
        std::vector<settings_struct_index> sent;
        for (const settings_struct_index index : before) {
            if (pending->count(index) == 0) {
                sent.push_back(index);
            }
        }
        ctx.out.error(QStringLiteral("stopped: %1; not sent: %2; nothing was saved")
                          .arg(sent.empty() ? QStringLiteral("nothing was sent")
                                            : QStringLiteral("sent %1").arg(setting_names_of(sent)),
                               setting_names_of(*pending)));
        return kExitCancelled;
    }
    if (!result.failed.empty() && ctx.comms->linkLost()) {
        ctx.out.error(QStringLiteral("the unit was disconnected after %1 of %2 values; not "
                                     "confirmed: %3; nothing was saved")
                          .arg(before.size() - pending->size())
                          .arg(before.size())
                          .arg(setting_names_of(*pending)));
        return kExitFailed;
    }
    if (!result.failed.empty()) {
        ctx.out.error(QStringLiteral("the unit did not take %1; nothing was saved")
                          .arg(setting_names_of(result.failed)));
        return kExitFailed;
    }
    return kExitDone;
}

void record_in_logbook(CliContext& ctx, const QJsonObject& action) {
    const QString warning = logbook_record(LogbookFrontEnd::Cli, ctx.comms, action);
    if (!warning.isEmpty()) {
        ctx.out.warning(warning);
    }
}

int save_unit_settings(CliContext& ctx, UnitRecord* unit) {
    const SaveResult result = settings_save(ctx.comms, unit, PendingSet{});
    // A save refused before anything was sent changed nothing on the unit.
    if (result.status != SaveStatus::NotLoaded) {
        record_in_logbook(ctx, logbook_save_action(result));
    }
    switch (result.status) {
    case SaveStatus::Ok:
        ctx.out.text(QStringLiteral("Saved on the unit (CRC %1)").arg(hex_word(result.crc)));
        return kExitDone;
    case SaveStatus::NotLoaded:
        ctx.out.error(QStringLiteral("not saved: %1 value(s) of the unit could not be read, so "
                                     "no CRC can be computed for its record")
                          .arg(result.count));
        return kExitFailed;
    case SaveStatus::InvalidCount:
        ctx.out.error(QStringLiteral("not saved: the unit reported an invalid settings element "
                                     "count (%1)")
                          .arg(result.element_count));
        return kExitFailed;
    case SaveStatus::VersionReadFailed:
    case SaveStatus::CountReadFailed:
        ctx.out.error(QStringLiteral("not saved: the unit did not answer before the save"));
        return kExitFailed;
    case SaveStatus::EditsPending:
    case SaveStatus::NoLink:
    case SaveStatus::StoreFailed:
        break;
    }
    ctx.out.error(QStringLiteral("not saved: the unit did not confirm the save"));
    return kExitFailed;
}
