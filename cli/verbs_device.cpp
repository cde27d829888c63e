// info, calibration export, the two uploads and reboot.
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include "cli/exit_status.h"
#include "cli/progress_printer.h"
#include "cli/verbs.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "firmware_ops/firmware_ops.h"
#include "firmware_ops/transfer_plan.h"
#include "settings/calibration_read.h"
#include "settings/logbook.h"
#include "settings/settings_backup.h"
#include "settings/unit_file.h"
#include "settings/word_text.h"

namespace {

QString generation_text() {
    return device_firmware_at_least_0_2_12() ? QStringLiteral("current") : QStringLiteral("legacy");
}

// The file was the problem rather than the unit or the link.
bool file_refused(upload_result_t result) {
    switch (result) {
    case UPLOAD_INVALID_PATH:
    case UPLOAD_FILE_OPEN_FAILED:
    case UPLOAD_FILE_SIZE_FAILED:
    case UPLOAD_FILE_EMPTY:
    case UPLOAD_HEADER_READ_FAILED:
    case UPLOAD_TOO_LARGE:
    case UPLOAD_FILE_READ_FAILED:
    case UPLOAD_FILE_TRUNCATED:
        return true;
    default:
        return false;
    }
}

// A new firmware may not read the old settings back: a copy is kept first, as the window does,
// and without one nothing is sent unless the user said so.
int backup_settings(CliContext& ctx) {
    UnitRecord unit;
    const LoadResult loaded = settings_load(ctx.comms, &unit, ctx.env.cancel);
    if (loaded.status == LoadStatus::Cancelled) {
        ctx.out.error(
            QStringLiteral("stopped before the settings were backed up; nothing was "
                           "sent"));
        return kExitCancelled;
    }
    QString error = QStringLiteral("the settings could not be read");
    const QString path = loaded.status == LoadStatus::Ok
                             ? settings_backup_unit(ctx.comms, unit, settings_backup_dir(),
                                                    kBackupsKeptPerUnit, &error)
                             : QString();
    if (path.isEmpty()) {
        ctx.out.error(QStringLiteral("settings not backed up, so nothing was sent: %1 "
                                     "(--no-backup uploads without a backup)")
                          .arg(error));
        return kExitFileRefused;
    }
    ctx.out.note(QStringLiteral("Settings backed up to %1").arg(path));
    ctx.result.insert(QStringLiteral("backup"), path);
    return kExitDone;
}

// The printer's reports, and the bytes written so far for the logbook.
struct UploadWatch {
    ProgressPrinter* printer;
    uint64_t bytes_written = 0;

    static void callback(uint32_t current, uint32_t total, int phase, void* user_data) {
        auto* watch = static_cast<UploadWatch*>(user_data);
        if (phase == 1) {
            watch->bytes_written = current;
        }
        ProgressPrinter::callback(current, total, phase, watch->printer);
    }
};

}  // namespace

int prepare_upload_file(const QString& path, bool firmware, CliOutput& out) {
    const QByteArray local = QFile::encodeName(path);
    const TransferPlan plan =
        firmware ? plan_firmware_upload(local.constData()) : plan_airport_upload(local.constData());
    if (!plan.ok) {
        out.error(QStringLiteral("%1 refused: %2").arg(path, QString::fromStdString(plan.problem)));
        return kExitFileRefused;
    }
    return kExitDone;
}

int run_info(CliContext& ctx) {
    const USBHID* usb = ctx.comms->getUSBHID();
    const CANFD* can = ctx.comms->getCANFD();
    const bool usb_up = usb != nullptr && usb->isConnected();
    const bool can_up = can != nullptr && can->isConnected();
    const QString can_name = QString::fromStdString(ctx.options.links.can_interface);
    auto state = [](bool tried, bool up) {
        return !tried ? QStringLiteral("not tried")
               : up   ? QStringLiteral("answered")
                      : QStringLiteral("no answer");
    };
    const QString serial = serial_text(ctx.comms->serialNumber());
    const QString firmware = firmware_version_text(g_whoami_fwversion);
    const std::pair<QString, QString> lines[] = {
        {QStringLiteral("USB HID:"), state(ctx.options.links.usb, usb_up)},
        {QStringLiteral("CAN FD %1:").arg(can_name), state(ctx.options.links.can, can_up)},
        {QStringLiteral("Serial:"), serial},
        {QStringLiteral("Firmware:"), firmware},
        {QStringLiteral("Generation:"), generation_text()},
    };
    for (const auto& [label, value] : lines) {
        ctx.out.text(QStringLiteral("%1 %2").arg(label, -13).arg(value));
    }
    ctx.result = QJsonObject{{QStringLiteral("usb"), state(ctx.options.links.usb, usb_up)},
                             {QStringLiteral("can"), state(ctx.options.links.can, can_up)},
                             {QStringLiteral("can_interface"), can_name},
                             {QStringLiteral("serial_number"), hex_word(ctx.comms->serialNumber())},
                             {QStringLiteral("firmware_version"), firmware},
                             {QStringLiteral("generation"), generation_text()}};
    return kExitDone;
}

int run_calibration_export(CliContext& ctx) {
    const QString path = ctx.options.operands.value(0);
    SettingsFile file = unit_settings_file(ctx.comms, UnitRecord{}, Settings_t{});
    SENSOR_CALIB_t calibration{};
    std::vector<int> unread;
    read_calibration(ctx.comms, &calibration, &unread, ctx.env.cancel);
    if (ctx.cancelled()) {
        ctx.out.error(QStringLiteral("stopped before the calibration was read; nothing written"));
        return kExitCancelled;
    }
    file.calibration = calibration;
    file.calibration_unread = unread;
    if (!write_export(ctx, path, calibration_file_encode(file))) {
        return kExitFileRefused;
    }
    ctx.result = QJsonObject{{QStringLiteral("file"), path},
                             {QStringLiteral("unread"), static_cast<int>(unread.size())}};
    if (!unread.empty()) {
        ctx.out.error(QStringLiteral("%1 calibration value(s) could not be read; written to %2 "
                                     "as null")
                          .arg(unread.size())
                          .arg(path));
        return kExitFailed;
    }
    ctx.out.text(QStringLiteral("Calibration exported to %1").arg(path));
    return kExitDone;
}

int run_upload(CliContext& ctx, bool firmware) {
    const QString path = ctx.options.operands.value(0);
    if (firmware && !ctx.options.no_backup && !ctx.cancelled()) {
        if (const int backup = backup_settings(ctx); backup != kExitDone) {
            return backup;
        }
    }
    if (ctx.cancelled()) {
        return kExitCancelled;
    }
    ProgressPrinter::Mode mode = ProgressPrinter::Mode::Off;
    if (ctx.out.showsProgress()) {
        mode = ctx.out.json()            ? ProgressPrinter::Mode::Json
               : ctx.env.err_is_terminal ? ProgressPrinter::Mode::Terminal
                                         : ProgressPrinter::Mode::Plain;
    }
    const QByteArray local = QFile::encodeName(path);
    const TransferPlan plan =
        firmware ? plan_firmware_upload(local.constData()) : plan_airport_upload(local.constData());
    if (mode == ProgressPrinter::Mode::Terminal || mode == ProgressPrinter::Mode::Plain) {
        std::fprintf(ctx.out.errStream(), "%s in %llu packets, %s\n",
                     byte_count_text(plan.data_bytes).c_str(),
                     static_cast<unsigned long long>(plan.packets),
                     about_duration_text(transfer_seconds(plan, ctx.comms->roundTripUs())).c_str());
    }
    ProgressPrinter printer(&ctx.out, mode, ctx.env.now);
    printer.setColumns(ctx.env.err_columns);
    UploadWatch watch{&printer};
    uint32_t partition = partition_none;
    printer.begin();
    const upload_result_t result =
        firmware ? send_fw(ctx.comms, local.constData(), UploadWatch::callback, &watch,
                           ctx.env.cancel, &partition)
                 : send_airport_db(ctx.comms, local.constData(), UploadWatch::callback, &watch,
                                   ctx.env.cancel);
    printer.finish();
    LogbookUpload upload;
    upload.firmware = firmware;
    upload.file = QFileInfo(path).absoluteFilePath();
    upload.partition = partition;
    upload.data_bytes = watch.bytes_written;
    upload.outcome = result == UPLOAD_OK          ? QStringLiteral("completed")
                     : result == UPLOAD_CANCELLED ? QStringLiteral("cancelled")
                                                  : QStringLiteral("failed");
    if (upload.outcome == QLatin1String("failed")) {
        upload.cause = QString::fromUtf8(upload_result_text(result));
    }
    record_in_logbook(ctx, logbook_upload_action(upload));
    ctx.result.insert(QStringLiteral("file"), path);
    if (result == UPLOAD_OK) {
        ctx.out.text(firmware ? QStringLiteral("Firmware update completed")
                              : QStringLiteral("Airport database transfer finished"));
        return kExitDone;
    }
    if (result == UPLOAD_CANCELLED) {
        // What the unit holds now: the bank or the database was begun and not finished.
        ctx.result.insert(
            firmware ? QStringLiteral("bank_incomplete") : QStringLiteral("database_incomplete"),
            true);
        ctx.out.error(firmware ? QStringLiteral("firmware update cancelled: the firmware bank "
                                                "holds an incomplete image; do not restart the "
                                                "unit into it until an update has completed")
                               : QStringLiteral("airport database transfer cancelled; the "
                                                "database on the unit is incomplete"));
        return kExitCancelled;
    }
    if (!firmware && result == UPLOAD_DB_OPEN_FAILED) {
        ctx.out.error(
            QStringLiteral("airport database transferred, but the unit did not reopen "
                           "it; reconnect the unit"));
        return kExitFailed;
    }
    const QString cause = QString::fromUtf8(upload_result_text(result));
    ctx.out.error(firmware ? QStringLiteral("firmware update failed: %1").arg(cause)
                           : QStringLiteral("airport database transfer failed: %1").arg(cause));
    return file_refused(result) ? kExitFileRefused : kExitFailed;
}
