#include "cli/cli_run.h"

#include <QJsonObject>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/candump_log.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/unit_choice.h"
#include "comms/usb_hid/USBHID.h"
#include "settings/word_text.h"

namespace {

QString links_tried(const LinkChoice& links) {
    const QString can =
        QStringLiteral("CAN FD (%1)").arg(QString::fromStdString(links.can_interface));
    if (links.usb && links.can) {
        return QStringLiteral("USB HID or ") + can;
    }
    return links.usb ? QStringLiteral("USB HID") : can;
}

int prepare(const CliOptions& options, const CliEnvironment& env, CliOutput& out,
            PreparedInput* input) {
    switch (options.verb) {
    case Verb::SettingsSet:
        return prepare_settings_set(options, out, input);
    case Verb::SettingsImport:
        return prepare_settings_import(options, env.in, out, input);
    case Verb::SettingsExport:
    case Verb::CalibrationExport:
        return prepare_output_file(options.operands.value(0), out);
    case Verb::Firmware:
    case Verb::Airports:
        return prepare_upload_file(options.operands.value(0), options.verb == Verb::Firmware, out);
    default:
        return kExitDone;
    }
}

int run(CliContext& ctx, const PreparedInput& input) {
    switch (ctx.options.verb) {
    case Verb::Info:
        return run_info(ctx);
    case Verb::SettingsShow:
        return run_settings_show(ctx);
    case Verb::SettingsSet:
        return run_settings_set(ctx, input);
    case Verb::SettingsExport:
        return run_settings_export(ctx);
    case Verb::SettingsImport:
        return run_settings_import(ctx, input);
    case Verb::CalibrationExport:
        return run_calibration_export(ctx);
    case Verb::Firmware:
        return run_upload(ctx, true);
    case Verb::Airports:
        return run_upload(ctx, false);
    case Verb::Reboot:
        return run_reboot(ctx);
    case Verb::List:
    case Verb::Logbook:
    case Verb::None:
        break;
    }
    return kExitUsage;
}

// Which link carries the exchanges, as the trace names it.
QString active_link(CommsManager& comms, const LinkChoice& links) {
    const USBHID* usb = comms.getUSBHID();
    if (usb != nullptr && usb->isConnected()) {
        return QStringLiteral("usbhid");
    }
    return QString::fromStdString(links.can_interface);
}

// Why no unit is in use, said; the exit status.
int connection_refused(const CommsManager& comms, const CliOptions& options, CliOutput& out) {
    const std::vector<uint32_t> serials = usable_serials(comms.unitsFound());
    switch (comms.unitChoice().pick) {
    case UnitPick::ChoiceNeeded:
        out.error(QString::fromStdString(units_connected_text(serials)) +
                  QStringLiteral("; name one with --serial"));
        return kExitUsage;
    case UnitPick::NotFound:
        out.error(
            QStringLiteral("no unit with serial number %1 answered on %2%3")
                .arg(serial_text(options.links.serial.value_or(0)), links_tried(options.links),
                     serials.empty() ? QString()
                                     : QStringLiteral(" (found: %1)")
                                           .arg(QString::fromStdString(serials_text(serials)))));
        return kExitNoUnit;
    case UnitPick::InUse:
    case UnitPick::NoneFound:
        break;
    }
    out.error(QStringLiteral("no unit answered on %1").arg(links_tried(options.links)));
    return kExitNoUnit;
}

int connect_and_run(const CliOptions& options, const CliEnvironment& env, CliOutput& out,
                    const PreparedInput& input) {
    CandumpTrace trace;
    if (!options.trace_path.isEmpty()) {
        std::string error;
        if (!trace.open(options.trace_path.toStdString(), options.links.can_interface, &error)) {
            out.error(QString::fromStdString(error));
            out.result(kExitFileRefused);
            return kExitFileRefused;
        }
    }
    CommsManager comms;
    if (!options.trace_path.isEmpty()) {
        comms.setFrameTap(trace.tap());
    }

    CliContext ctx{options, env, out, &comms, QJsonObject()};
    int status = kExitDone;
    const bool linked = comms.establish_connection(options.links);
    const std::vector<uint32_t> shared = shared_bus_serials(comms.unitsFound());
    if (!shared.empty()) {
        out.warning(QString::fromStdString(shared_bus_text(options.links.can_interface, shared)));
    }
    if (!linked) {
        status = connection_refused(comms, options, out);
    } else if (env.cancel->load()) {
        status = kExitCancelled;
    } else {
        const QString link = active_link(comms, options.links);
        const QString firmware = firmware_version_text(g_whoami_fwversion);
        const QString generation = device_firmware_at_least_0_2_12() ? QStringLiteral("current")
                                                                     : QStringLiteral("legacy");
        if (!out.json() && !out.quiet() && options.verb != Verb::Info) {
            std::fprintf(env.err, "Unit %s, firmware %s (%s), on %s\n",
                         serial_text(comms.serialNumber()).toLocal8Bit().constData(),
                         firmware.toLocal8Bit().constData(), generation.toLocal8Bit().constData(),
                         link.toLocal8Bit().constData());
        }
        out.begin({{QStringLiteral("verb"), verb_name(options.verb)},
                   {QStringLiteral("link"), link},
                   {QStringLiteral("serial_number"), hex_word(comms.serialNumber())},
                   {QStringLiteral("firmware_version"), firmware},
                   {QStringLiteral("generation"), generation}});
        status = run(ctx, input);
        if (status == kExitCancelled && env.cancel->load()) {
            out.error(QStringLiteral("cancelled"));
        } else if (status == kExitDone && env.cancel->load()) {
            // The stop came during the verb's last exchange, which then ended: an interrupted
            // run never reads as an uninterrupted one.
            out.error(
                QStringLiteral("interrupted during the last exchange, which completed: "
                               "what is reported above was done"));
            status = kExitCancelled;
        }
    }
    comms.setFrameTap(FrameTap());
    if (!options.trace_path.isEmpty()) {
        std::string error;
        if (!trace.close(&error)) {
            out.error(QString::fromStdString(error));
            if (status == kExitDone) {
                status = kExitFileRefused;
            }
        }
    }
    out.result(status, ctx.result);
    return status;
}

}  // namespace

int cli_run(const QStringList& arguments, const CliEnvironment& env) {
    const CliParse parse = parse_cli(arguments);
    if (!parse.ok) {
        std::fprintf(env.err, "efis-cli: %s\nTry 'efis-cli --help'.\n",
                     parse.error.toLocal8Bit().constData());
        return kExitUsage;
    }
    const CliOptions& options = parse.options;
    if (options.help) {
        std::fputs(cli_help(options.verb).toLocal8Bit().constData(), env.out);
        return kExitDone;
    }
    if (options.version) {
        std::fprintf(env.out, "efis-cli %s\n", EFIS_VERSION);
        return kExitDone;
    }
    // A file written to standard output keeps it to itself: the tool's words go to standard
    // error.
    const bool data_out =
        (options.verb == Verb::SettingsExport || options.verb == Verb::CalibrationExport) &&
        names_standard_output(options.operands.value(0));
    CliEnvironment words = env;
    if (data_out) {
        words.out = env.err;
        words.out_is_terminal = env.err_is_terminal;
    }
    CliOutput out(words, options.json, options.quiet);
    if (options.verb == Verb::List) {
        return run_list(options, out);
    }
    PreparedInput input;
    const int prepared = prepare(options, env, out, &input);
    if (prepared != kExitDone) {
        out.result(prepared);
        return prepared;
    }
    if (options.verb == Verb::Logbook) {
        return run_logbook(options, out, env.out);
    }
    return connect_and_run(options, env, out, input);
}
