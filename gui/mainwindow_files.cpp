// The File menu: a unit's settings exported to a file and a file compared and imported into
// the settings tab, the unit's logbook and its configuration sheet; and the backup of the
// settings written before a firmware upload.
#include <QAction>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "gui/configuration_sheet.h"
#include "gui/import_dialog.h"
#include "gui/logbook_dialog.h"
#include "gui/mainwindow.h"
#include "settings/calibration_read.h"
#include "settings/setting_names.h"
#include "settings/settings_backup.h"
#include "settings/settings_compare.h"
#include "settings/unit_file.h"
#include "settings/word_text.h"
#include "ui_mainwindow.h"

void MainWindow::setupFileMenu() {
    QMenu* file = ui->menubar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("menu_file"));
    QAction* exportAction = file->addAction(QStringLiteral("Export Settings…"));
    exportAction->setObjectName(QStringLiteral("action_export_settings"));
    connect(exportAction, &QAction::triggered, this, [this]() { exportSettings(); });
    QAction* importAction = file->addAction(QStringLiteral("Import Settings…"));
    importAction->setObjectName(QStringLiteral("action_import_settings"));
    connect(importAction, &QAction::triggered, this, [this]() { importSettings(); });
    file->addSeparator();
    QAction* logbookAction = file->addAction(QStringLiteral("Unit Logbook…"));
    logbookAction->setObjectName(QStringLiteral("action_unit_logbook"));
    connect(logbookAction, &QAction::triggered, this, [this]() { showLogbook(); });
    QAction* sheetAction = file->addAction(QStringLiteral("Save Configuration Sheet…"));
    sheetAction->setObjectName(QStringLiteral("action_configuration_sheet"));
    connect(sheetAction, &QAction::triggered, this, [this]() { saveConfigurationSheet(); });
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("action_quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
}

SettingsFile MainWindow::settingsFileOf(const Settings_t& record) const {
    return unit_settings_file(comms, unitRecord, record);
}

void MainWindow::exportSettings() {
    if (!unitRecord.loaded) {
        statusBar()->showMessage(
            QStringLiteral("Error: No settings were read from the unit; press Load before "
                           "exporting"),
            0);
        return;
    }
    // Values that were not read are zeros in the record, not the unit's settings.
    if (!unitRecord.whole()) {
        statusBar()->showMessage(
            QStringLiteral("Error: The unit's settings were not read completely; press Load "
                           "before exporting"),
            0);
        return;
    }
    Settings_t record = unitRecord.record;
    if (!changed_values.empty()) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Export Settings"),
                        QStringLiteral("Include %1 unsent edit(s) in the file?")
                            .arg(pending_setting_count(changed_values)),
                        QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("confirmation"));
        box.setInformativeText(
            QStringLiteral("The unit does not hold them yet. Without them the file holds "
                           "exactly what the unit holds."));
        QPushButton* include =
            box.addButton(QStringLiteral("Include Edits"), QMessageBox::AcceptRole);
        QPushButton* unitOnly =
            box.addButton(QStringLiteral("Unit's Values Only"), QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(unitOnly);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == include) {
            for (const settings_struct_index index : changed_values) {
                uint32_t value = settings_get_value(&user_config, index);
                settings_set_value(&record, index, &value);
            }
        } else if (box.clickedButton() != unitOnly) {
            return;
        }
    }

    SettingsFile file = settingsFileOf(record);
    const QString suggested =
        QDir::home().filePath(QStringLiteral("efis-%1-%2.json")
                                  .arg(file.header.serial_number, 8, 16, QLatin1Char('0'))
                                  .arg(file.header.written.toString(QStringLiteral("yyyyMMdd"))));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export Settings"), suggested,
                                     QStringLiteral("Settings Files (*.json);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }

    // The calibration goes along for the installer's records when the link is free for it.
    QString calibrationNote;
    if (linkUpAndIdle()) {
        SENSOR_CALIB_t calibration{};
        std::vector<int> unread;
        read_calibration(comms, &calibration, &unread);
        file.calibration = calibration;
        file.calibration_unread = unread;
        if (!unread.empty()) {
            calibrationNote =
                QStringLiteral(" (%1 calibration value(s) could not be read)").arg(unread.size());
        }
    } else {
        calibrationNote =
            linkReady() ? QStringLiteral(" (without the calibration: a transfer uses the link)")
                        : QStringLiteral(" (without the calibration: no unit connected)");
    }

    QString reason;
    if (!settings_file_write(path, file, &reason)) {
        qDebug() << "Export failed:" << path << reason;
        statusBar()->showMessage(QStringLiteral("Error: Could not write %1: %2")
                                     .arg(QDir::toNativeSeparators(path), reason),
                                 0);
        return;
    }
    qDebug() << "Settings exported to" << path;
    statusBar()->showMessage(QStringLiteral("Settings exported to %1%2")
                                 .arg(QDir::toNativeSeparators(path), calibrationNote),
                             0);
}

void MainWindow::importSettings() {
    if (!unitRecord.loaded) {
        statusBar()->showMessage(
            QStringLiteral("Error: No settings were read from the unit to compare with; press "
                           "Load before importing"),
            0);
        return;
    }
    if (!unitRecord.whole()) {
        statusBar()->showMessage(
            QStringLiteral("Error: The unit's settings were not read completely; press Load "
                           "before importing"),
            0);
        return;
    }
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Import Settings"), QDir::homePath(),
                                     QStringLiteral("Settings Files (*.json);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const SettingsFileRead read = settings_file_read(path);
    if (!read.ok) {
        qDebug() << "Import refused:" << path << read.error;
        statusBar()->showMessage(QStringLiteral("Error: %1 refused: %2").arg(name, read.error), 0);
        return;
    }
    const QString layout = settings_file_layout_check(read.file, unitRecord.record);
    if (!layout.isEmpty()) {
        qDebug() << "Import refused:" << path << layout;
        statusBar()->showMessage(QStringLiteral("Error: %1 refused: %2").arg(name, layout), 0);
        return;
    }

    // The file is compared with the record, so it is checked against the unit it came from.
    const uint32_t serial = unitRecord.serial_number;
    QStringList warnings = settings_file_warnings(read.file, serial, unitRecord.firmware);
    warnings += read.warnings;
    const std::vector<SettingDifference> differences =
        settings_compare(unitRecord.record, read.file.record);
    if (differences.empty()) {
        statusBar()->showMessage(
            QStringLiteral("%1 holds the same settings as the unit: no differences").arg(name), 0);
        return;
    }

    ImportDialog dialog(name, read.file, differences, warnings,
                        read.file.header.serial_number != serial, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const std::vector<size_t> taken = dialog.checkedSettings();
    Settings_t fileRecord = read.file.record;
    for (const size_t setting : taken) {
        const SettingDef& def = settings_table()[setting];
        const std::vector<uint32_t> words = setting_words(fileRecord, setting);
        for (int i = 0; i < def.count; ++i) {
            updateConfigValueLocal(static_cast<settings_struct_index>(def.first + i),
                                   words[static_cast<size_t>(i)]);
        }
    }
    updateUIFromConfig();
    importFile = path;
    importTaken.clear();
    for (const size_t setting : taken) {
        importTaken << QString::fromLatin1(settings_table()[setting].name);
    }
    statusBar()->showMessage(
        QStringLiteral("%1 setting(s) taken from %2; press Update to send them to the unit")
            .arg(taken.size())
            .arg(name),
        0);
}

bool MainWindow::backupBeforeFirmwareUpload() {
    // The upload's own texts follow at once in the status bar, so the backup is named in a
    // label of its own beside them; a label left from an earlier upload would name a backup
    // this one does not have.
    backupLabel->clear();
    backupLabel->setToolTip(QString());
    // Without a record read from the unit there is nothing to back up: that is a failed
    // backup too, and the user decides.
    QString error = QStringLiteral("the settings were not read from the unit");
    const QString path = unitRecord.loaded
                             ? settings_backup_unit(comms, unitRecord, settings_backup_dir(),
                                                    kBackupsKeptPerUnit, &error)
                             : QString();
    if (path.isEmpty()) {
        qDebug() << "Settings backup failed:" << error;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Firmware Update"),
                        QStringLiteral("The settings could not be backed up: %1.").arg(error),
                        QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("confirmation"));
        box.setInformativeText(
            QStringLiteral("A new firmware may not read the settings back. Update without a "
                           "backup?"));
        QPushButton* update =
            box.addButton(QStringLiteral("Update Without Backup"), QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() != update) {
            statusBar()->showMessage(
                QStringLiteral(
                    "Warning: Firmware update not started: the settings could not be backed "
                    "up (%1)")
                    .arg(error),
                0);
            return false;
        }
        backupLabel->setText(QStringLiteral("Warning: Settings not backed up"));
        backupLabel->setToolTip(error);
        return true;
    }
    qDebug() << "Settings backed up to" << path;
    backupLabel->setText(
        QStringLiteral("Settings backed up to %1").arg(QFileInfo(path).fileName()));
    backupLabel->setToolTip(QDir::toNativeSeparators(path));
    return true;
}

void MainWindow::showLogbook() {
    const uint32_t serial = unitRecord.loaded ? unitRecord.serial_number : comms->serialNumber();
    LogbookDialog dialog(logbook_dir(), serial, this);
    dialog.exec();
}

void MainWindow::saveConfigurationSheet() {
    // The sheet states what the unit holds: values never read, or edits it does not hold yet,
    // would be printed as if it did.
    if (!unitRecord.loaded) {
        statusBar()->showMessage(
            QStringLiteral("Error: No settings were read from the unit; press Load before "
                           "saving the configuration sheet"),
            0);
        return;
    }
    if (!unitRecord.whole()) {
        statusBar()->showMessage(
            QStringLiteral("Error: The unit's settings were not read completely; press Load "
                           "before saving the configuration sheet"),
            0);
        return;
    }
    if (!changed_values.empty()) {
        statusBar()->showMessage(
            QStringLiteral("Error: %1 edit(s) not sent to the unit; press Update first")
                .arg(pending_setting_count(changed_values)),
            0);
        return;
    }
    SheetContent content;
    content.record = unitRecord.record;
    content.serial = unitRecord.serial_number;
    content.firmware = unitRecord.firmware;
    content.current_generation = unitRecord.current_generation;
    content.date = QDateTime::currentDateTimeUtc();
    content.entries = logbook_read(logbook_path(logbook_dir(), content.serial)).entries;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Configuration Sheet"),
        QDir::home().filePath(QStringLiteral("configuration-sheet-%1-%2.pdf")
                                  .arg(serial_text(content.serial),
                                       content.date.toString(QStringLiteral("yyyyMMdd")))),
        QStringLiteral("PDF Files (*.pdf);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!write_configuration_sheet(path, content, sheet_page_size(QLocale::system()), &error)) {
        qDebug() << "Configuration sheet not written:" << path << error;
        statusBar()->showMessage(QStringLiteral("Error: Could not write %1: %2").arg(path, error),
                                 0);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Configuration sheet saved to %1").arg(path), 0);
}
