// The settings actions on the unit: Load, Update, Save and Reboot, and their outcomes in the
// status bar.
#include <QDebug>
#include <QStatusBar>
#include <QStringList>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

namespace {

const QString kNoLinkStatus =
    QStringLiteral("Error: No communication interface connected (USB HID or CAN FD)");

}  // namespace

// Load, Update, Save and Reboot need the unit and the link to themselves: without a link the
// status bar says so; during a transfer refuseWhileTransferring does.
bool MainWindow::refuseSettingsAction() {
    if (!linkReady()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(kNoLinkStatus, 0);
        return true;
    }
    return refuseWhileTransferring();
}

void MainWindow::loadConfigFromDevice(const QString& editsKept) {
    if (refuseSettingsAction()) {
        return;
    }

    const PendingSet edits = editsKept.isEmpty() ? PendingSet() : changed_values;
    if (edits.empty()) {
        importFile.clear();
        importTaken.clear();
    }
    Settings_t edited = user_config;
    changed_values.clear();
    const LoadResult result = settings_load(comms, &unitRecord);
    // The working record is the unit's: a load stopped early leaves it zero apart from the
    // header words read, and the form keeps showing what it showed. Edits kept over a
    // reconnection lie over the record of the unit now connected.
    user_config = unitRecord.record;
    user_config_chk = unitRecord.device_crc;
    for (const settings_struct_index index : edits) {
        uint32_t value = settings_get_value(&edited, index);
        settings_set_value(&user_config, index, &value);
        changed_values.insert(index);
    }

    struct Failure {
        LoadStatus status;
        const char* log;
        const char* text;
    };
    static const Failure failures[] = {
        {LoadStatus::ChecksumReadFailed, "Error reading checksum value",
         "Error: Failed to read checksum from device"},
        {LoadStatus::MagicReadFailed, "Error reading magic value",
         "Error: Failed to read magic number from device"},
        {LoadStatus::VersionReadFailed, "Error reading memory version value",
         "Error: Failed to read memory version from device"},
        {LoadStatus::CountReadFailed, "Error reading num_elements value",
         "Error: Failed to read num_elements from device"},
    };
    for (const Failure& failure : failures) {
        if (result.status == failure.status) {
            qDebug() << failure.log;
            statusBar()->showMessage(QString::fromLatin1(failure.text), 0);
            refreshMarks();
            return;
        }
    }
    if (result.status == LoadStatus::InvalidCount) {
        qDebug() << "Invalid num_elements value" << result.element_count;
        statusBar()->showMessage(
            QStringLiteral("Error: Device reported an invalid settings element count (%1)")
                .arg(result.element_count),
            0);
        refreshMarks();
        return;
    }

    for (const settings_struct_index index : result.unread) {
        qDebug() << "Warning: Failed to read value for index" << static_cast<int>(index)
                 << ", setting to 0";
    }
    if (result.status == LoadStatus::RecordRejected) {
        qDebug() << "Error setting value for index" << result.rejected_index;
        statusBar()->showMessage(QStringLiteral("Error: Failed to process configuration data"), 0);
        refreshMarks();
        return;
    }

    if (!result.crc_matches) {
        qDebug() << "CRC mismatch: Calculated =" << QString::number(result.calculated_crc, 16)
                 << "Stored=" << QString::number(user_config_chk, 16);
    }

    updateUIFromConfig();

    // Warnings stay in the status bar until the next message, so the outcome text names
    // every problem of this load.
    const int failedReads = static_cast<int>(result.unread.size());
    QString outcome = QStringLiteral("Configuration successfully loaded from device");
    if (!result.crc_matches && failedReads > 0) {
        outcome = QStringLiteral(
                      "Warning: Configuration CRC verification failed and %1 configuration "
                      "value(s) could not be read from device")
                      .arg(failedReads);
    } else if (!result.crc_matches) {
        outcome = QStringLiteral("Warning: Configuration CRC verification failed");
    } else if (failedReads > 0) {
        outcome = QStringLiteral("Warning: %1 configuration value(s) could not be read from device")
                      .arg(failedReads);
    } else if (!editsKept.isEmpty()) {
        outcome = editsKept;
    }
    statusBar()->showMessage(outcome, 0);
}

void MainWindow::recordInLogbook(const QJsonObject& action) {
    const QString warning = logbook_record(LogbookFrontEnd::Window, comms, action);
    if (!warning.isEmpty()) {
        qDebug() << "Logbook:" << warning;
        statusBar()->showMessage(
            statusBar()->currentMessage() + QStringLiteral("; Warning: ") + warning, 0);
    }
}

void MainWindow::onLoadClicked() {
    // Only a load that would run asks: one refused for the link or a transfer loses nothing.
    if (!changed_values.empty() && linkUpAndIdle() &&
        !confirm(
            QStringLiteral("Discard %1 unsent edit(s)?").arg(pending_setting_count(changed_values)),
            QStringLiteral("Loading replaces the form with the settings the unit holds. "
                           "Edits not sent with Update are lost."),
            QStringLiteral("Discard Edits and Load"))) {
        return;
    }
    loadConfigFromDevice();
}

void MainWindow::onUpdateClicked() {
    if (refuseSettingsAction()) {
        return;
    }
    if (changed_values.empty()) {
        statusBar()->showMessage(QStringLiteral("No changes to send"), 0);
        return;
    }

    // Values the unit did not acknowledge stay pending, so the next Update sends them again.
    const Settings_t held = unitRecord.record;
    const PendingSet attempted = changed_values;
    const UpdateResult result = settings_update(comms, user_config, &changed_values, &unitRecord);
    for (const settings_struct_index index : result.failed) {
        qDebug() << "Failed to send value for index" << static_cast<int>(index);
    }
    refreshMarks();

    if (result.failed.empty()) {
        statusBar()->showMessage(
            QStringLiteral("Successfully sent %1 configuration value(s) to device")
                .arg(result.sent),
            0);
    } else {
        statusBar()->showMessage(QStringLiteral("Sent %1 value(s), %2 failed")
                                     .arg(result.sent)
                                     .arg(result.failed.size()),
                                 0);
    }
    QJsonObject action =
        logbook_update_action(held, user_config, attempted, changed_values, result);
    if (!importFile.isEmpty()) {
        action = logbook_import_action(importFile, importTaken, action);
        importFile.clear();
        importTaken.clear();
    }
    recordInLogbook(action);
}

void MainWindow::onSaveClicked() {
    if (refuseSettingsAction()) {
        return;
    }

    const SaveResult result = settings_save(comms, &unitRecord, changed_values);
    switch (result.status) {
    case SaveStatus::Ok:
        // Every edit was acknowledged, so the working record is what the unit now stores.
        user_config = unitRecord.record;
        updateUIFromConfig();
        statusBar()->showMessage(QStringLiteral("Configuration saved to EEPROM successfully"), 0);
        break;
    case SaveStatus::EditsPending:
        statusBar()->showMessage(
            QStringLiteral("Warning: %1 edited value(s) not sent yet; press Update before Save")
                .arg(result.count),
            0);
        break;
    case SaveStatus::NotLoaded:
        qDebug() << "Settings record not known; values not read:" << result.count;
        statusBar()->showMessage(
            QStringLiteral("Error: The unit's settings were not read completely; press Load "
                           "before Save"),
            0);
        break;
    case SaveStatus::VersionReadFailed:
        qDebug() << "Error reading memory version value";
        statusBar()->showMessage(QStringLiteral("Error: Failed to read memory version from device"),
                                 0);
        break;
    case SaveStatus::CountReadFailed:
        qDebug() << "Error reading num_elements value";
        statusBar()->showMessage(QStringLiteral("Error: Failed to read num_elements from device"),
                                 0);
        break;
    case SaveStatus::InvalidCount:
        qDebug() << "Invalid num_elements value" << result.element_count;
        statusBar()->showMessage(
            QStringLiteral("Error: Device reported an invalid settings element count (%1)")
                .arg(result.element_count),
            0);
        break;
    case SaveStatus::StoreFailed:
    case SaveStatus::NoLink:
        qDebug() << "Error storing configuration to EEPROM";
        statusBar()->showMessage(QStringLiteral("Error: Failed to store configuration to EEPROM"),
                                 0);
        break;
    }
    refreshMarks();
    // A Save refused before anything was sent changed nothing on the unit.
    if (result.status != SaveStatus::EditsPending && result.status != SaveStatus::NotLoaded) {
        recordInLogbook(logbook_save_action(result));
    }
}

void MainWindow::onRebootClicked() {
    if (refuseSettingsAction()) {
        return;
    }
    QString informative =
        QStringLiteral("The unit restarts into its boot loader and stops showing flight data.");
    if (unitRecord.sent_not_saved) {
        informative += QStringLiteral(" Values sent but not saved with Save are lost.");
    }
    if (!changed_values.empty()) {
        informative += QStringLiteral(" %1 edit(s) not sent yet stay in the form only.")
                           .arg(pending_setting_count(changed_values));
    }
    if (firmwareIncomplete) {
        informative += QStringLiteral(
            " The last firmware update did not complete: the firmware bank holds an incomplete "
            "image, and the unit must not start into it.");
    }
    if (!confirm(QStringLiteral("Reboot the EFIS?"), informative, QStringLiteral("Reboot"))) {
        return;
    }

    const LogbookUnit before = logbook_unit(comms);
    if (enter_boot_loader(comms) > 0) {
        qDebug() << "Reboot command sent successfully";
        // The entry is written once the unit is back, with the firmware it came back with.
        restartEntryPending = true;
        unitBeforeRestart = before;
        // What was sent and not saved is gone with the restart.
        unitRecord.sent_not_saved = false;
        refreshMarks();
        statusBar()->showMessage(QStringLiteral("Reboot command sent to device"), 0);
        restartExpected();
    } else {
        qDebug() << "Failed to send reboot command";
        statusBar()->showMessage(QStringLiteral("Error: Failed to send reboot command"), 0);
        recordInLogbook(logbook_restart_action(before.firmware, QStringLiteral("failed"), nullptr));
    }
}
