// efis-cli reboot: the restart command, then the wait for the unit to come back.
#include <QJsonObject>
#include <chrono>
#include <thread>

#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/comms.h"
#include "settings/logbook.h"
#include "settings/word_text.h"

namespace {

constexpr double kComeBackSeconds = 30.0;
// The unit may still answer for a moment after the command; on CAN it is never seen to go.
constexpr double kGraceSeconds = 2.0;
constexpr auto kPollPeriod = std::chrono::milliseconds(250);
// A hidraw node appears before udev has given the user access to it.
constexpr uint32_t kUsbOpenRetryMs = 2000;

QString firmware_words(const fwversion_t& v) {
    return v.version == 0 ? QStringLiteral("legacy firmware")
                          : QStringLiteral("firmware ") + firmware_version_text(v);
}

// The entry goes to the logbook of the unit told to restart, whether or not it came back.
void record_restart(CliContext& ctx, const LogbookUnit& unit, const QString& outcome,
                    const fwversion_t* after) {
    const QString warning = logbook_record(logbook_dir(), LogbookFrontEnd::Cli, unit,
                                           logbook_restart_action(unit.firmware, outcome, after));
    if (!warning.isEmpty()) {
        ctx.out.warning(warning);
    }
}

}  // namespace

int run_reboot(CliContext& ctx) {
    const fwversion_t before = g_whoami_fwversion;
    const uint32_t serial = ctx.comms->serialNumber();
    const LogbookUnit unit = logbook_unit(ctx.comms);
    if (enter_boot_loader(ctx.comms) <= 0) {
        record_restart(ctx, unit, QStringLiteral("failed"), nullptr);
        ctx.out.error(QStringLiteral("failed to send reboot command"));
        return kExitFailed;
    }
    ctx.out.text(QStringLiteral("Reboot command sent to device"));
    if (ctx.options.no_wait) {
        record_restart(ctx, unit, QStringLiteral("sent"), nullptr);
        return kExitDone;
    }
    ctx.comms->disconnectAll();
    if (!ctx.out.quiet() && !ctx.out.json()) {
        std::fprintf(ctx.out.errStream(), "Waiting up to 30 s for the unit to come back\n");
    }
    // The same unit, on the links tried before.
    LinkChoice links = ctx.options.links;
    links.serial = serial;
    links.usb_open_retry_ms = kUsbOpenRetryMs;
    const double sent = ctx.env.now();
    bool back = false;
    while (!back && !ctx.cancelled() && ctx.env.now() - sent < kComeBackSeconds) {
        std::this_thread::sleep_for(kPollPeriod);
        if (ctx.env.now() - sent >= kGraceSeconds) {
            back = ctx.comms->establish_connection(links);
        }
    }
    if (!back) {
        if (ctx.cancelled()) {
            record_restart(ctx, unit, QStringLiteral("sent"), nullptr);
            ctx.out.error(QStringLiteral("stopped waiting for the unit; it was told to restart"));
            return kExitCancelled;
        }
        record_restart(ctx, unit, QStringLiteral("did not come back"), nullptr);
        ctx.out.error(QStringLiteral("the unit did not come back within 30 s of the restart"));
        return kExitNoUnit;
    }
    const fwversion_t now = g_whoami_fwversion;
    record_restart(ctx, unit, QStringLiteral("came back"), &now);
    ctx.out.text(
        now.version == before.version
            ? QStringLiteral("The unit restarted and still runs %1").arg(firmware_words(now))
            : QStringLiteral("The unit restarted and now runs %1 (before: %2)")
                  .arg(firmware_words(now), firmware_words(before)));
    ctx.result.insert(QStringLiteral("firmware_version_after"), firmware_version_text(now));
    return kExitDone;
}
