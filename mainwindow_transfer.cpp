// The window's transfer side: choosing the files, running an upload on a worker thread,
// showing its progress, and keeping the settings actions off the link meanwhile.
#include <sys/prctl.h>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QMetaObject>
#include <QStatusBar>

#include "comms/comms.h"
#include "firmware_ops/firmware_ops.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "upload_progress_throttle.h"

namespace {

// Every data packet is followed by a 100 us pause; with the default 50 us timer slack the
// kernel stretches each such sleep (and each wait for the unit's answer) by up to half as
// much again, which on a 4 MiB image costs several seconds.
void use_fine_timer_slack() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

// Runs on the worker thread; the window is only touched through queued invocations, each
// carrying its own copies of the values.
void fw_progress_callback(uint32_t current, uint32_t total, int phase, void* user_data) {
    auto* ctx = static_cast<ThrottledUploadProgressCtx*>(user_data);
    if (ctx == nullptr || ctx->window == nullptr) {
        return;
    }
    const uint32_t bar = ctx->compute_bar(current, total, phase);
    if (!ctx->should_emit(bar, phase, current, total)) {
        return;
    }
    const QString text = phase == 0
                             ? QStringLiteral("Erasing: %1 / %2 blocks").arg(current).arg(total)
                             : QStringLiteral("Uploading: %1 / %2 bytes").arg(current).arg(total);
    MainWindow* window = ctx->window;
    QMetaObject::invokeMethod(
        window,
        [window, bar, text]() { window->applyFirmwareUploadProgress(static_cast<int>(bar), text); },
        Qt::QueuedConnection);
}

void airport_progress_callback(uint32_t current, uint32_t total, int phase, void* user_data) {
    auto* ctx = static_cast<ThrottledUploadProgressCtx*>(user_data);
    if (ctx == nullptr || ctx->window == nullptr) {
        return;
    }
    const uint32_t bar = ctx->compute_bar(current, total, phase);
    if (!ctx->should_emit(bar, phase, current, total)) {
        return;
    }
    const QString text =
        phase == 0
            ? QStringLiteral("Erasing airport region: %1 / %2 blocks").arg(current).arg(total)
            : QStringLiteral("Uploading airport database: %1 / %2 bytes").arg(current).arg(total);
    MainWindow* window = ctx->window;
    QMetaObject::invokeMethod(
        window,
        [window, bar, text]() { window->applyAirportUploadProgress(static_cast<int>(bar), text); },
        Qt::QueuedConnection);
}

using UploadFunction = upload_result_t (*)(CommsManager*, const char*, fw_progress_callback_t,
                                           void*, const std::atomic<bool>*);

// The worker of one upload. It works on copies of the path and the manager pointer taken at
// the start, so that a later file choice cannot reach a running upload.
QThread* makeUploadWorker(MainWindow* window, UploadFunction upload,
                          fw_progress_callback_t progress, const QString& pathCopy,
                          CommsManager* commsPtr, const std::atomic<bool>* cancel,
                          std::atomic<uint32_t>* result) {
    return QThread::create([window, upload, progress, pathCopy, commsPtr, cancel, result]() {
        use_fine_timer_slack();
        ThrottledUploadProgressCtx context;
        context.window = window;
        const QByteArray path = pathCopy.toLocal8Bit();
        result->store(upload(commsPtr, path.constData(), progress, &context, cancel));
    });
}

}  // namespace

void MainWindow::applyFirmwareUploadProgress(int bar_0_10000, const QString& status) {
    ui->progressBar_firmware->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_firmware->setValue(bar_0_10000);
    statusBar()->showMessage(status, 0);
}

void MainWindow::applyAirportUploadProgress(int bar_0_10000, const QString& status) {
    ui->progressBar_airports->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_airports->setValue(bar_0_10000);
    statusBar()->showMessage(status, 0);
}

bool MainWindow::transferRunning() const {
    return !firmwareUploadThread.isNull() || !airportUploadThread.isNull();
}

bool MainWindow::refuseWhileTransferring() {
    if (!transferRunning()) {
        return false;
    }
    qDebug() << "Device action refused: a transfer is using the link";
    statusBar()->showMessage(QStringLiteral("Error: A transfer is running; wait until it finishes"),
                             0);
    return true;
}

void MainWindow::setDeviceActionsEnabled(bool enabled) {
    ui->pushButton_load->setEnabled(enabled);
    ui->pushButton_update->setEnabled(enabled);
    ui->pushButton_save->setEnabled(enabled);
    ui->pushButton_reboot->setEnabled(enabled);
}

void MainWindow::onBrowseClicked() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Firmware File"), QString(),
                                                      tr("Firmware Files (*.bin);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    firmwareFilePath = path;
    ui->text_firmware_file->setText(QFileInfo(path).fileName());
    ui->text_firmware_file->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->progressBar_firmware->setEnabled(true);
}

void MainWindow::onBrowseAirportsClicked() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Select Airport Database"), QString(), tr("Database Files (*.db);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    airportDbFilePath = path;
    ui->text_firmware_file_2->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file_2->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->progressBar_airports->setEnabled(true);
}

void MainWindow::onStartUpdateClicked() {
    if (firmwareFilePath.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("No firmware file selected"), 0);
        return;
    }
    if (comms == nullptr || !comms->isConnected()) {
        statusBar()->showMessage(
            QStringLiteral("Device not connected. Please connect to device first."), 0);
        qDebug() << "Firmware update failed: CommsManager not connected";
        return;
    }
    if (firmwareUploadThread) {
        statusBar()->showMessage(QStringLiteral("Firmware update already in progress"), 0);
        return;
    }
    if (airportUploadThread) {
        statusBar()->showMessage(QStringLiteral("Finish airport transfer before firmware update"),
                                 0);
        return;
    }

    // A new firmware may not read the old settings back: keep a copy first.
    backupBeforeFirmwareUpload();

    ui->pushButton_browse->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->text_firmware_file->setEnabled(false);
    ui->progressBar_firmware->setEnabled(true);
    ui->progressBar_firmware->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_firmware->setValue(0);
    setDeviceActionsEnabled(false);

    statusBar()->showMessage(QStringLiteral("Starting firmware update..."), 0);
    qDebug() << "Starting firmware update with file:" << firmwareFilePath;

    QThread* worker = makeUploadWorker(this, send_fw, fw_progress_callback, firmwareFilePath, comms,
                                       &uploadCancel, &firmwareUploadResult);
    firmwareUploadThread = worker;
    connect(worker, &QThread::finished, this, [this]() { onFirmwareUploadFinished(); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void MainWindow::onStartAirportClicked() {
    if (airportDbFilePath.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("No airport database file selected"), 0);
        return;
    }
    if (comms == nullptr || !comms->isConnected()) {
        statusBar()->showMessage(
            QStringLiteral("Device not connected. Please connect to device first."), 0);
        qDebug() << "Airport upload failed: CommsManager not connected";
        return;
    }
    if (airportUploadThread) {
        statusBar()->showMessage(QStringLiteral("Airport transfer already in progress"), 0);
        return;
    }
    if (firmwareUploadThread) {
        statusBar()->showMessage(QStringLiteral("Finish firmware update before airport transfer"),
                                 0);
        return;
    }

    ui->pushButton_browse_airports->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->text_firmware_file_2->setEnabled(false);
    ui->progressBar_airports->setEnabled(true);
    ui->progressBar_airports->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_airports->setValue(0);
    setDeviceActionsEnabled(false);

    statusBar()->showMessage(QStringLiteral("Starting airport database transfer..."), 0);
    qDebug() << "Airport database upload:" << airportDbFilePath;

    QThread* worker =
        makeUploadWorker(this, send_airport_db, airport_progress_callback, airportDbFilePath, comms,
                         &uploadCancel, &airportUploadResult);
    airportUploadThread = worker;
    connect(worker, &QThread::finished, this, [this]() { onAirportUploadFinished(); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

// A failed upload leaves its bar where it stopped and names the cause; only a complete one
// fills the bar and reports completion.
void MainWindow::onFirmwareUploadFinished() {
    const auto result = static_cast<upload_result_t>(firmwareUploadResult.load());
    ui->pushButton_browse->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->text_firmware_file->setEnabled(true);
    if (result == UPLOAD_OK) {
        ui->progressBar_firmware->setValue(static_cast<int>(kUploadBarMax));
        statusBar()->showMessage(QStringLiteral("Firmware update completed"), 0);
        qDebug() << "Firmware update process finished";
    } else {
        const QString cause = QString::fromUtf8(upload_result_text(result));
        statusBar()->showMessage(QStringLiteral("Error: Firmware update failed: ") + cause, 0);
        qDebug() << "Firmware update process failed:" << cause;
    }
    firmwareUploadThread.clear();
    setDeviceActionsEnabled(!transferRunning());
}

void MainWindow::onAirportUploadFinished() {
    const auto result = static_cast<upload_result_t>(airportUploadResult.load());
    ui->pushButton_browse_airports->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->text_firmware_file_2->setEnabled(true);
    if (result == UPLOAD_OK) {
        ui->progressBar_airports->setValue(static_cast<int>(kUploadBarMax));
        statusBar()->showMessage(QStringLiteral("Airport database transfer finished"), 0);
    } else if (result == UPLOAD_DB_OPEN_FAILED) {
        // Every byte was written; only the command that reopens the database got lost.
        ui->progressBar_airports->setValue(static_cast<int>(kUploadBarMax));
        statusBar()->showMessage(
            QStringLiteral("Warning: Airport database transferred, but the unit did not reopen "
                           "it; reconnect the unit"),
            0);
        qDebug() << "Airport database transferred, open command failed";
    } else {
        const QString cause = QString::fromUtf8(upload_result_text(result));
        statusBar()->showMessage(
            QStringLiteral("Error: Airport database transfer failed: ") + cause, 0);
        qDebug() << "Airport database transfer failed:" << cause;
    }
    airportUploadThread.clear();
    setDeviceActionsEnabled(!transferRunning());
}
