// Settings files from the window: export, the comparison before an import, and the backup
// written before a firmware upload.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStatusTipEvent>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <functional>

#include "comms/comms.h"
#include "gui_test_support.h"
#include "settings/settings_file.h"
#include "tests/full_disk.h"
#include "tests/qtest_registry.h"
#include "tests/transfer/upload_file_support.h"

using transfer_test::firmware_image;
using transfer_test::write_file;

class SettingsFilesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;
    QTemporaryDir dir;

    template <typename T>
    T* w(const char* name) {
        return widget<T>(window.get(), name);
    }
    QString status() { return statusText(window.get()); }

    // Answers the next file dialog with `path` (entered into its name box) while `act` runs.
    static void withFileDialog(const QString& path, const std::function<void()>& act) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) {
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        poll.start(10);
        act();
    }

    void trigger(const char* action) {
        QAction* a = window->findChild<QAction*>(QString::fromLatin1(action));
        QVERIFY(a != nullptr);
        a->trigger();
    }

    // Runs an import of `path` and hands the comparison to `inspect`, which decides.
    void importWith(const QString& path, const std::function<void(QDialog*)>& inspect) {
        QTimer poll;
        bool seen = false;
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr ||
                dialog->objectName() != QStringLiteral("dialog_import_settings") || seen) {
                return;
            }
            seen = true;
            inspect(dialog);
        });
        poll.start(10);
        withFileDialog(path, [&] { trigger("action_import_settings"); });
    }

    static QStringList rows(QDialog* dialog) {
        auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("table_import_differences"));
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r) {
            out << QStringLiteral("%1|%2|%3|%4")
                       .arg(table->item(r, 0)->text(), table->item(r, 1)->text(),
                            table->item(r, 2)->text(),
                            table->item(r, 0)->checkState() == Qt::Checked ? "on" : "off");
        }
        return out;
    }

private slots:
    void cleanup() { window.reset(); }

    void exportChangeImportUpdateSave_data() {
        addGenerationColumn();
        addGenerationRows();
    }

    void exportChangeImportUpdateSave() {
        QFETCH(emu::Generation, generation);
        resetUnit(generation);
        window = makeWindow();
        const QString path =
            dir.filePath(QStringLiteral("backup-%1.json").arg(QTest::currentDataTag()));
        withFileDialog(path, [&] { trigger("action_export_settings"); });
        QVERIFY2(status().startsWith(QStringLiteral("Settings exported to")), qPrintable(status()));

        // Someone changes Vne on the unit; the file brings it back.
        Settings_t changed = sampleSettings();
        changed.vspeeds.Vne = 175;
        emu_hid::unit().set_settings(withCrc(changed));
        {
            BoxAnswer none(QStringLiteral("Cancel"));
            w<QPushButton>("pushButton_load")->click();
        }
        importWith(path, [](QDialog* dialog) {
            QCOMPARE(rows(dialog), QStringList{QStringLiteral("vne|175|160|on")});
            dialog->accept();
        });
        QVERIFY(w<QLabel>("label_vne")->font().bold());
        QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 160);
        QCOMPARE(w<QLabel>("label_pending_edits")->text(), QStringLiteral("1 edit(s) not sent"));
        QCOMPARE(emu_hid::unit().settings().vspeeds.Vne, uint8_t{175});  // nothing sent yet

        w<QPushButton>("pushButton_update")->click();
        w<QPushButton>("pushButton_save")->click();
        QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
        FdCapture out(1);
        w<QPushButton>("pushButton_load")->click();
        QVERIFY(out.text().contains("CRC Check Passed.\n"));
        QCOMPARE(recordBytes(emu_hid::unit().settings()), recordBytes(sampleSettings()));
    }

    void menuLeavesTheStatusMessage() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString loaded = status();
        QStatusTipEvent hover{QString()};
        QApplication::sendEvent(window.get(), &hover);
        QCOMPARE(status(), loaded);
    }

    void importRefusalsChangeNothing() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString path = dir.filePath(QStringLiteral("broken.json"));
        QVERIFY(write_file(path.toStdString(), {'{', '"', 'x'}));
        withFileDialog(path, [&] { trigger("action_import_settings"); });
        QVERIFY2(status().startsWith(QStringLiteral("Error: broken.json refused: Not a JSON file")),
                 qPrintable(status()));
        QCOMPARE(w<QLabel>("label_pending_edits")->text(), QString());

        // Another settings layout is refused before any comparison.
        SettingsFile file;
        file.header.written = QDateTime::currentDateTimeUtc();
        file.record = sampleSettings();
        file.record.version = 9;
        QString error;
        const QString other = dir.filePath(QStringLiteral("other.json"));
        QVERIFY(settings_file_write(other, file, &error));
        withFileDialog(other, [&] { trigger("action_import_settings"); });
        QVERIFY2(status().contains(QStringLiteral("made for another settings layout")),
                 qPrintable(status()));
        QCOMPARE(w<QLabel>("label_pending_edits")->text(), QString());
    }

    // A load that missed a value holds a zero in its place, not the unit's setting: no file is
    // written from that record, and none is compared with it.
    void recordNotReadWholeIsNeitherExportedNorCompared() {
        resetUnit(emu::Generation::Current);
        emu::Fault silent;
        silent.answer = emu::AnswerKind::Reply;
        silent.no_answer = true;
        silent.skip_first = 4 + TERM_RESISTOR_INDEX;
        silent.times = 1;
        emu_hid::unit().set_fault(0x370, silent);
        window = makeWindow();
        QTRY_VERIFY_WITH_TIMEOUT(
            status().contains(QStringLiteral("1 configuration value(s) could not be read")), 10000);
        const QString path = dir.filePath(QStringLiteral("partial.json"));
        withFileDialog(path, [&] { trigger("action_export_settings"); });
        QCOMPARE(status(), QStringLiteral("Error: The unit's settings were not read completely; "
                                          "press Load before exporting"));
        QVERIFY(!QFile::exists(path));

        SettingsFile file;
        file.header.written = QDateTime::currentDateTimeUtc();
        file.record = sampleSettings();
        QString error;
        QVERIFY(settings_file_write(path, file, &error));
        withFileDialog(path, [&] { trigger("action_import_settings"); });
        QCOMPARE(status(), QStringLiteral("Error: The unit's settings were not read completely; "
                                          "press Load before importing"));
        QCOMPARE(w<QLabel>("label_pending_edits")->text(), QString());
    }

    void fileFromAnotherUnitLeavesIdentityUnchecked() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        SettingsFile file;
        file.header.written = QDateTime::currentDateTimeUtc();
        file.header.serial_number = 0x0BADCAFE;
        file.header.firmware.version = g_whoami_fwversion.version;
        file.record = sampleSettings();
        file.record.vspeeds.Vne = 150;
        std::memcpy(file.record.registration, "DEFGH", 5);
        QString error;
        const QString path = dir.filePath(QStringLiteral("other-unit.json"));
        QVERIFY(settings_file_write(path, file, &error));
        QStringList seen;
        QString warning;
        importWith(path, [&](QDialog* dialog) {
            seen = rows(dialog);
            warning = dialog->findChild<QLabel*>(QStringLiteral("label_import_warnings"))->text();
            dialog->accept();
        });
        QCOMPARE(seen, (QStringList{QStringLiteral("vne|160|150|on"),
                                    QStringLiteral("registration|VHABC|DEFGH|off")}));
        QVERIFY2(warning.contains(QStringLiteral("serial")), qPrintable(warning));
        // Only the checked row reaches the form.
        QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 150);
        QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), QStringLiteral("ABC"));
    }

    void exportAsksAboutUnsentEdits() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        w<QSpinBox>("spinBox_vne")->setValue(199);
        const struct {
            const char* button;
            uint8_t vne;
        } answers[] = {{"Unit's Values Only", 160}, {"Include Edits", 199}};
        for (const auto& answer : answers) {
            const QString path = dir.filePath(QString::fromLatin1(answer.button) + ".json");
            BoxAnswer box{QString::fromLatin1(answer.button)};
            withFileDialog(path, [&] { trigger("action_export_settings"); });
            QCOMPARE(box.asked(),
                     QStringList{QStringLiteral("Include 1 unsent edit(s) in the file?")});
            const SettingsFileRead read = settings_file_read(path);
            QVERIFY2(read.ok, qPrintable(read.error));
            QCOMPARE(read.file.record.vspeeds.Vne, answer.vne);
        }
    }

    void exportThatCannotBeWrittenSaysWhy() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString path = dir.filePath(QStringLiteral("full.json"));
        QVERIFY(write_file(path.toStdString(), {'o', 'l', 'd'}));
        {
            FullDisk full;
            BoxAnswer replace(QStringLiteral("&Yes"));  // the file dialog's "replace it?"
            withFileDialog(path, [&] { trigger("action_export_settings"); });
        }
        QCOMPARE(status(), QStringLiteral("Error: Could not write %1: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(EFBIG))));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "old");
    }

    // No folder can be made below a device: the box names the reason, and Cancel keeps the
    // upload from starting.
    void backupThatCannotBeWrittenAsks_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancel") << QStringLiteral("Cancel");
        QTest::newRow("update anyway") << QStringLiteral("Update Without Backup");
    }

    void backupThatCannotBeWrittenAsks() {
        QFETCH(QString, answer);
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", "/dev/null/efis");
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString image = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(write_file(image.toStdString(), firmware_image(4096, 7)));
        withFileDialog(image, [&] { w<QPushButton>("pushButton_browse")->click(); });
        BoxAnswer box(answer);
        w<QPushButton>("pushButton_start_update")->click();
        qputenv("XDG_DATA_HOME", dataHome);
        QCOMPARE(box.asked(), QStringList{QStringLiteral(
                                  "The settings could not be backed up: could not create the "
                                  "folder /dev/null/efis/efis-config/backups.")});
        if (answer == QStringLiteral("Cancel")) {
            QVERIFY2(status().startsWith(QStringLiteral("Warning: Firmware update not started")),
                     qPrintable(status()));
            QVERIFY(w<QPushButton>("pushButton_start_update")->isEnabled());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Firmware update completed"), 30000);
        QCOMPARE(w<QLabel>("label_backup")->text(),
                 QStringLiteral("Warning: Settings not backed up"));
    }

    void backupBeforeFirmwareUploadKeepsTwenty() {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        const QString backups = data.filePath(QStringLiteral("efis-config/backups"));
        QVERIFY(QDir().mkpath(backups));
        for (int i = 0; i < 20; ++i) {
            QFile old(QStringLiteral("%1/00C0FFEE-20200101T0000%2Z.json")
                          .arg(backups)
                          .arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        QFile otherUnit(backups + QStringLiteral("/12345678-20200101T000000Z.json"));
        QVERIFY(otherUnit.open(QIODevice::WriteOnly));

        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString image = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(write_file(image.toStdString(), firmware_image(4096, 7)));
        withFileDialog(image, [&] { w<QPushButton>("pushButton_browse")->click(); });
        w<QPushButton>("pushButton_start_update")->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Firmware update completed"), 30000);

        const QStringList own =
            QDir(backups).entryList({QStringLiteral("00C0FFEE-*.json")}, QDir::Files, QDir::Name);
        QCOMPARE(own.size(), 20);
        QVERIFY(!own.contains(QStringLiteral("00C0FFEE-20200101T000000Z.json")));
        QVERIFY(QFile::exists(otherUnit.fileName()));
        const QString newest = own.last();
        QCOMPARE(w<QLabel>("label_backup")->text(),
                 QStringLiteral("Settings backed up to %1").arg(newest));
        const SettingsFileRead read = settings_file_read(QDir(backups).filePath(newest));
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(recordBytes(read.file.record), recordBytes(sampleSettings()));
        QCOMPARE(read.file.header.serial_number, 0x00C0FFEEu);
    }
};

EFIS_QTEST(SettingsFilesTest);
#include "test_settings_files.moc"
