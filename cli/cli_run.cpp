#include "cli/cli_run.h"

#include <QJsonObject>
#include <QSettings>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/can_diagnosis.h"
#include "comms/can_interfaces.h"
#include "comms/candump_log.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/unit_choice.h"
#include "comms/usb_hid/USBHID.h"
#include "comms/usb_hid/unit_interface.h"
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

// No unit answered: why, link by link. With CAN FD alone and a cause found on the system, the
// cause is the error itself.
void report_no_unit(const CliOptions& options, CliOutput& out, QJsonObject* result) {
    const LinkChoice& links = options.links;
    const QString usb_why = usb_unit_present(vendor_id, product_id)
                                ? QStringLiteral("the unit did not answer")
                                : QStringLiteral("no unit is attached");
    const std::string problem =
        links.can ? can_link_problem(links.can_interface, can_system_view(links.can_interface))
                  : std::string();
    const QString can_why = problem.empty() ? QStringLiteral("the unit did not answer")
                                            : QString::fromStdString(problem);
    QJsonObject why;
    if (links.usb) {
        why.insert(QStringLiteral("usb"), usb_why);
    }
    if (links.can) {
        why.insert(QStringLiteral("can"), can_why);
    }
    result->insert(QStringLiteral("links"), why);
    if (!links.usb && !problem.empty()) {
        out.error(can_why);
        return;
    }
    out.error(QStringLiteral("no unit answered on %1").arg(links_tried(links)));
    if (links.usb) {
        out.detail(QStringLiteral("  USB HID: %1").arg(usb_why));
    }
    if (links.can) {
        out.detail(QStringLiteral("  CAN FD (%1): %2")
                       .arg(QString::fromStdString(links.can_interface), can_why));
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
    case Verb::SettingsList:
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
int connection_refused(const CommsManager& comms, const CliOptions& options, CliOutput& out,
                       QJsonObject* result) {
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
    report_no_unit(options, out, result);
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
        status = connection_refused(comms, options, out, &ctx.result);
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

// Results written to standard output that did not reach it (a full disk, a closed pipe) make
// the run a failure, as they do for the system's own tools.
int check_output(FILE* stream, int status, CliOutput& out) {
    errno = 0;
    if (std::fflush(stream) == 0 && std::ferror(stream) == 0) {
        return status;
    }
    const int error = out.outError() != 0 ? out.outError() : errno != 0 ? errno : EIO;
    out.error(QStringLiteral("cannot write standard output: %1")
                  .arg(QString::fromLocal8Bit(std::strerror(error))));
    return status == kExitDone ? kExitFileRefused : status;
}

// Help, the version and completions: text that needs no unit.
QString plain_text(const CliOptions& options) {
    if (options.complete) {
        const QStringList words = cli_completions(options.operands);
        return words.isEmpty() ? QString() : words.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (options.help) {
        return cli_help(options.verb, options.help_family);
    }
    return QStringLiteral("efis-cli %1\n").arg(QLatin1String(EFIS_VERSION));
}

// The CAN interface chosen in the window's Device menu, kept in its configuration file.
std::string remembered_can_interface(const std::string& fallback) {
    const QSettings settings(QStringLiteral("efis-config"), QStringLiteral("efis-config"));
    const std::string name =
        settings.value(QStringLiteral("link/can_interface")).toString().toStdString();
    return can_interface_name_valid(name) ? name : fallback;
}

int run_parsed(const CliOptions& given, const CliEnvironment& env) {
    if (given.complete || given.help || given.version) {
        std::fputs(plain_text(given).toLocal8Bit().constData(), env.out);
        CliOutput out(env, false, false);
        return check_output(env.out, kExitDone, out);
    }
    CliOptions options = given;
    if (!options.can_interface_given && options.links.can) {
        options.links.can_interface = remembered_can_interface(options.links.can_interface);
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
        return check_output(words.out, run_list(options, out), out);
    }
    if (options.verb == Verb::Logbook) {
        return check_output(words.out, run_logbook(options, out, env.out), out);
    }
    if (options.verb == Verb::SettingsList) {
        QJsonObject result;
        run_settings_list(out, &result);
        out.result(kExitDone, result);
        return check_output(words.out, kExitDone, out);
    }
    PreparedInput input;
    const int prepared = prepare(options, env, out, &input);
    if (prepared != kExitDone) {
        out.result(prepared);
        return prepared;
    }
    return check_output(words.out, connect_and_run(options, env, out, input), out);
}

}  // namespace

int cli_run(const QStringList& arguments, const CliEnvironment& env) {
    const CliParse parse = parse_cli(arguments);
    if (!parse.ok) {
        CliOutput out(env, parse.options.json, false);
        out.error(parse.error);
        std::fputs("Try 'efis-cli --help'.\n", env.err);
        out.result(kExitUsage);
        return kExitUsage;
    }
    return run_parsed(parse.options, env);
}

bool ConnectionLogFilter::keep(const std::string& line) {
    if (line.rfind("Attempting to connect to USB HID device", 0) == 0) {
        usb_tried_ = true;
    } else if (line == "Failed to connect via both USB HID and CAN FD") {
        const bool tried = usb_tried_;
        usb_tried_ = false;
        return tried;
    } else if (line.rfind("Connected via ", 0) == 0) {
        usb_tried_ = false;
    }
    return true;
}
