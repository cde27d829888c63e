// The window's transfer side: choosing the files, running an upload on a worker thread,
// showing its progress, and keeping the settings actions off the link meanwhile.
#include <sys/prctl.h>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <chrono>
#include <functional>

#include "comms/comms.h"
#include "firmware_ops/firmware_ops.h"
#include "firmware_ops/transfer_plan.h"
#include "gui/mainwindow.h"
#include "gui/upload_progress_throttle.h"
#include "ui_mainwindow.h"

namespace {

// With the default 50 us timer slack the kernel stretches each wait for the unit's answer;
// over the tens of thousands of packets of an image that costs seconds. (The pause after
// each packet sets its own slack.)
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
    if (phase == 1 && ctx->bytes_written != nullptr) {
        ctx->bytes_written->store(current);
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
        [window, bar, text, current, total, phase]() {
            window->applyFirmwareUploadProgress(static_cast<int>(bar), text, current, total, phase);
        },
        Qt::QueuedConnection);
}

void airport_progress_callback(uint32_t current, uint32_t total, int phase, void* user_data) {
    auto* ctx = static_cast<ThrottledUploadProgressCtx*>(user_data);
    if (ctx == nullptr || ctx->window == nullptr) {
        return;
    }
    if (phase == 1 && ctx->bytes_written != nullptr) {
        ctx->bytes_written->store(current);
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
        [window, bar, text, current, total, phase]() {
            window->applyAirportUploadProgress(static_cast<int>(bar), text, current, total, phase);
        },
        Qt::QueuedConnection);
}

// Results of an upload that stopped before the first erase.
bool firmware_left_untouched(upload_result_t result) {
    switch (result) {
    case UPLOAD_NOT_CONNECTED:
    case UPLOAD_INVALID_PATH:
    case UPLOAD_NO_PARTITION:
    case UPLOAD_FILE_OPEN_FAILED:
    case UPLOAD_FILE_SIZE_FAILED:
    case UPLOAD_FILE_EMPTY:
    case UPLOAD_HEADER_READ_FAILED:
    case UPLOAD_TOO_LARGE:
        return true;
    default:
        return false;
    }
}

using UploadFunction = std::function<upload_result_t(
    CommsManager*, const char*, fw_progress_callback_t, void*, const std::atomic<bool>*)>;

// The worker of one upload. It works on copies of the path and the manager pointer taken at
// the start, so that a later file choice cannot reach a running upload.
QThread* makeUploadWorker(MainWindow* window, UploadFunction upload,
                          fw_progress_callback_t progress, const QString& pathCopy,
                          CommsManager* commsPtr, const std::atomic<bool>* cancel,
                          std::atomic<uint32_t>* result, std::atomic<uint64_t>* bytesWritten) {
    return QThread::create(
        [window, upload, progress, pathCopy, commsPtr, cancel, result, bytesWritten]() {
            use_fine_timer_slack();
            ThrottledUploadProgressCtx context;
            context.window = window;
            context.bytes_written = bytesWritten;
            const QByteArray path = pathCopy.toLocal8Bit();
            result->store(upload(commsPtr, path.constData(), progress, &context, cancel));
        });
}

}  // namespace

void MainWindow::recordUpload(bool firmware, uint32_t code) {
    const auto result = static_cast<upload_result_t>(code);
    LogbookUpload upload;
    upload.firmware = firmware;
    upload.file = uploadFile;
    upload.partition = firmware ? uploadPartition : 0;
    upload.data_bytes = uploadBytesWritten.load();
    upload.outcome = result == UPLOAD_OK          ? QStringLiteral("completed")
                     : result == UPLOAD_CANCELLED ? QStringLiteral("cancelled")
                                                  : QStringLiteral("failed");
    if (result != UPLOAD_OK && result != UPLOAD_CANCELLED) {
        upload.cause = QString::fromUtf8(upload_result_text(result));
    }
    recordInLogbook(logbook_upload_action(upload));
}

void MainWindow::applyFirmwareUploadProgress(int bar_0_10000, const QString& status,
                                             uint32_t current, uint32_t total, int phase) {
    ui->progressBar_firmware->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_firmware->setValue(bar_0_10000);
    showTransferFigures(ui->progressBar_firmware, current, total, phase);
    statusBar()->showMessage(status, 0);
}

void MainWindow::applyAirportUploadProgress(int bar_0_10000, const QString& status,
                                            uint32_t current, uint32_t total, int phase) {
    ui->progressBar_airports->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_airports->setValue(bar_0_10000);
    showTransferFigures(ui->progressBar_airports, current, total, phase);
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
    showTransferPlan(true);
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
    showTransferPlan(false);
}

void MainWindow::onStartUpdateClicked() {
    if (firmwareFilePath.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("No firmware file selected"), 0);
        return;
    }
    if (!linkReady()) {
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

    // An image the plan refuses would erase the bank and leave it incomplete.
    const TransferPlan plan = plan_firmware_upload(QFile::encodeName(firmwareFilePath).constData());
    if (!plan.ok) {
        statusBar()->showMessage(QStringLiteral("Error: Firmware update refused: %1")
                                     .arg(QString::fromStdString(plan.problem)),
                                 0);
        return;
    }

    // A new firmware may not read the old settings back: keep a copy first.
    if (!backupBeforeFirmwareUpload()) {
        return;
    }

    ui->pushButton_browse->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->text_firmware_file->setEnabled(false);
    ui->progressBar_firmware->setEnabled(true);
    ui->progressBar_firmware->setRange(0, static_cast<int>(kUploadBarMax));
    ui->progressBar_firmware->setValue(0);
    setDeviceActionsEnabled(false);

    statusBar()->showMessage(QStringLiteral("Starting firmware update..."), 0);
    qDebug() << "Starting firmware update with file:" << firmwareFilePath;

    uploadCancel = false;
    uploadFile = firmwareFilePath;
    uploadPartition = partition_none;
    uploadBytesWritten = 0;
    // The worker alone writes the bank until it has finished.
    uint32_t* partition = &uploadPartition;
    QThread* worker = makeUploadWorker(
        this,
        [partition](CommsManager* c, const char* path, fw_progress_callback_t progress, void* user,
                    const std::atomic<bool>* cancel) {
            return send_fw(c, path, progress, user, cancel, partition);
        },
        fw_progress_callback, firmwareFilePath, comms, &uploadCancel, &firmwareUploadResult,
        &uploadBytesWritten);
    firmwareUploadThread = worker;
    startTransferFigures();
    connect(worker, &QThread::finished, this, [this]() { onFirmwareUploadFinished(); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void MainWindow::onStartAirportClicked() {
    if (airportDbFilePath.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("No airport database file selected"), 0);
        return;
    }
    if (!linkReady()) {
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

    uploadCancel = false;
    uploadFile = airportDbFilePath;
    uploadBytesWritten = 0;
    QThread* worker = makeUploadWorker(
        this,
        [](CommsManager* c, const char* path, fw_progress_callback_t progress, void* user,
           const std::atomic<bool>* cancel) {
            return send_airport_db(c, path, progress, user, cancel);
        },
        airport_progress_callback, airportDbFilePath, comms, &uploadCancel, &airportUploadResult,
        &uploadBytesWritten);
    airportUploadThread = worker;
    startTransferFigures();
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
    logTransferFigures("Firmware upload");
    recordUpload(true, result);
    // Once the bank is being erased it holds no whole image until an upload completes.
    firmwareIncomplete = result != UPLOAD_OK && !firmware_left_untouched(result);
    firmwareUploadThread.clear();
    // The summary tells the outcome of the last upload, not of an earlier one.
    if (firmwareIncomplete) {
        firmwareSummary->setText(
            QStringLiteral("The firmware bank now holds an incomplete image: do not reboot the "
                           "unit into it until an update has completed."));
    } else {
        showTransferPlan(true);
    }
    transferEnded();
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
    logTransferFigures("Airport database upload");
    recordUpload(false, result);
    airportUploadThread.clear();
    transferEnded();
}

void MainWindow::transferEnded() {
    setDeviceActionsEnabled(!transferRunning() && !unitLost);
    setCancelButtons();
    // A transfer that lost its link has just said why: the loss is taken in at once.
    pollUnit();
    if (closeWhenStopped && !transferRunning()) {
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void MainWindow::setupTransferControls() {
    transferClock = []() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    auto summary = [](QWidget* parent, const char* name) {
        auto* label = new QLabel(parent);
        label->setObjectName(QLatin1String(name));
        label->setWordWrap(true);
        label->setMinimumWidth(320);
        return label;
    };
    auto cancel = [this](QWidget* parent, const char* name) {
        auto* button = new QPushButton(QStringLiteral("Cancel"), parent);
        button->setObjectName(QLatin1String(name));
        QFont font = button->font();
        font.setPointSize(12);
        button->setFont(font);
        button->setEnabled(false);
        connect(button, &QPushButton::clicked, this, [this]() { cancelTransfer(); });
        return button;
    };
    firmwareSummary = summary(ui->frame, "label_firmware_summary");
    cancelFirmwareButton = cancel(ui->frame, "pushButton_cancel_update");
    airportSummary = summary(ui->frame_2, "label_airport_summary");
    cancelAirportButton = cancel(ui->frame_2, "pushButton_cancel_airport");
    // The summary below the file name; Cancel below the bar.
    ui->firmware_frame_layout->insertWidget(
        ui->firmware_frame_layout->indexOf(ui->text_firmware_file) + 1, firmwareSummary);
    ui->firmware_frame_layout->insertWidget(
        ui->firmware_frame_layout->indexOf(ui->progressBar_firmware) + 1, cancelFirmwareButton);
    ui->airport_frame_layout->insertWidget(
        ui->airport_frame_layout->indexOf(ui->text_firmware_file_2) + 1, airportSummary);
    ui->airport_frame_layout->insertWidget(
        ui->airport_frame_layout->indexOf(ui->progressBar_airports) + 1, cancelAirportButton);
}

void MainWindow::setTransferClock(std::function<double()> clock) {
    transferClock = std::move(clock);
}

// Before anything is sent: what the file will cost, and whether it fits.
void MainWindow::showTransferPlan(bool firmware) {
    const QByteArray path = QFile::encodeName(firmware ? firmwareFilePath : airportDbFilePath);
    const TransferPlan plan =
        firmware ? plan_firmware_upload(path.constData()) : plan_airport_upload(path.constData());
    QLabel* label = firmware ? firmwareSummary : airportSummary;
    if (!plan.ok) {
        label->setText(
            QStringLiteral("Will be refused: %1").arg(QString::fromStdString(plan.problem)));
        label->setToolTip(QString());
        return;
    }
    const QString size = QString::fromStdString(byte_count_text(plan.data_bytes));
    QString text = firmware ? QStringLiteral(
                                  "%1 of firmware in %2 packets; fits its bank (%3 of %4 "
                                  "blocks)")
                                  .arg(size)
                                  .arg(plan.packets)
                                  .arg(plan.blocks)
                                  .arg(plan.area_blocks)
                            : QStringLiteral("%1 in %2 packets (%3 of %4 blocks)")
                                  .arg(size)
                                  .arg(plan.packets)
                                  .arg(plan.blocks)
                                  .arg(plan.area_blocks);
    // A connection attempt still searching writes the round trip and the link: no estimate
    // until it has handed the comms manager back.
    const uint32_t roundTrip = linkReady() ? comms->roundTripUs() : 0;
    if (roundTrip > 0) {
        const QString link = comms->getActiveInterface() == USB_HID ? QStringLiteral("USB HID")
                                                                    : QStringLiteral("CAN FD");
        text +=
            QStringLiteral("; %1 over %2")
                .arg(QString::fromStdString(about_duration_text(transfer_seconds(plan, roundTrip))),
                     link);
        label->setToolTip(
            QStringLiteral("Estimated from the %1 µs the unit took to answer when it was found")
                .arg(roundTrip));
    } else {
        label->setToolTip(QString());
    }
    label->setText(text);
}

void MainWindow::startTransferFigures() {
    transferStart = transferClock();
    stageStart = transferStart;
    transferPhase = -1;
    transferBytes = 0;
    uploadCancel = false;
    setCancelButtons();
}

// The bar's own text: the percentage, and once a write has run two seconds its throughput
// and time left over the last few seconds.
void MainWindow::showTransferFigures(QProgressBar* bar, uint32_t current, uint32_t total,
                                     int phase) {
    const double now = transferClock();
    if (phase != transferPhase) {
        transferMeter.start(total, transferPhase < 0 ? transferStart : now);
        stageStart = transferPhase < 0 ? transferStart : now;
        transferPhase = phase;
    }
    transferMeter.update(current, now);
    if (phase == 1) {
        transferBytes = current;
    }
    QString format = QStringLiteral("%p%");
    if (phase == 1 && now - stageStart >= 2.0 && transferMeter.rate() >= 0.0) {
        format += QStringLiteral(" · %1").arg(
            QString::fromStdString(byte_rate_text(transferMeter.rate())));
        if (current < total && transferMeter.seconds_left() >= 0.0) {
            format += QStringLiteral(" · %1 left")
                          .arg(QString::fromStdString(duration_text(transferMeter.seconds_left())));
        }
    }
    bar->setFormat(format);
}

void MainWindow::logTransferFigures(const char* what) {
    const double elapsed = transferClock() - transferStart;
    const double average = elapsed > 0.0 ? static_cast<double>(transferBytes) / elapsed : 0.0;
    qDebug().noquote() << QStringLiteral("%1 took %2 (%3 written, %4 on average)")
                              .arg(QLatin1String(what),
                                   QString::fromStdString(duration_text(elapsed)),
                                   QString::fromStdString(byte_count_text(transferBytes)),
                                   QString::fromStdString(byte_rate_text(average)));
    ui->progressBar_firmware->setFormat(QStringLiteral("%p%"));
    ui->progressBar_airports->setFormat(QStringLiteral("%p%"));
}

void MainWindow::setCancelButtons() {
    cancelFirmwareButton->setEnabled(!firmwareUploadThread.isNull() && !uploadCancel);
    cancelAirportButton->setEnabled(!airportUploadThread.isNull() && !uploadCancel);
}

void MainWindow::cancelTransfer() {
    if (!transferRunning()) {
        return;
    }
    qDebug() << "Transfer cancel requested";
    uploadCancel = true;
    setCancelButtons();
}

bool MainWindow::closeDuringTransfer() {
    if (!transferRunning()) {
        closeWhenStopped = false;
        return true;
    }
    if (closeWhenStopped) {
        return false;  // already stopping; the window closes when the worker has ended
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Transfer running"),
                    QStringLiteral("A transfer is running. Keep it running?"),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("confirmation"));
    box.setInformativeText(
        !firmwareUploadThread.isNull()
            ? QStringLiteral("Stopping leaves an incomplete image in the firmware bank: do not "
                             "reboot the unit into it until an update has completed.")
            : QStringLiteral("Stopping leaves the airport database on the unit incomplete."));
    QPushButton* keep = box.addButton(QStringLiteral("Keep Running"), QMessageBox::RejectRole);
    QPushButton* stop = box.addButton(QStringLiteral("Stop and Close"), QMessageBox::AcceptRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() != stop) {
        return false;
    }
    // The transfer may have ended while the question was open: nothing is left to stop.
    if (!transferRunning()) {
        return true;
    }
    // The worker stops between packets and the window closes when it has ended, so it never
    // disappears while the link is still in use.
    closeWhenStopped = true;
    cancelTransfer();
    statusBar()->showMessage(QStringLiteral("Stopping the transfer before closing..."), 0);
    return false;
}
