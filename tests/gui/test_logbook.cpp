// The unit's logbook and configuration sheet from the window: what an Update leaves in the
// logbook, and the sheet's text as a PDF reader extracts it.
#include <QAction>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "gui_test_support.h"
#include "settings/logbook.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"
#include "tests/qtest_registry.h"

namespace {

constexpr uint32_t kSerial = 0x00E715C0;

// A fresh unit with a serial number of its own.
void resetNamedUnit(emu::Generation generation) {
    resetUnit(generation);
    emu_hid::unit().set_serial(kSerial);
}

}  // namespace

class LogbookTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;
    QTemporaryDir home;
    QByteArray previousHome;

    template <typename T>
    T* w(const char* name) {
        return widget<T>(window.get(), name);
    }
    QString status() { return statusText(window.get()); }

    void trigger(const char* action) {
        QAction* a = window->findChild<QAction*>(QString::fromLatin1(action));
        QVERIFY(a != nullptr);
        a->trigger();
    }

    std::vector<QJsonObject> entries() {
        const LogbookRead read = logbook_read(logbook_path(logbook_dir(), kSerial));
        return read.entries;
    }

private slots:
    void initTestCase() {
        QVERIFY(home.isValid());
        previousHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    }
    void cleanupTestCase() { qputenv("XDG_DATA_HOME", previousHome); }
    void init() { QDir(logbook_dir()).removeRecursively(); }
    void cleanup() { window.reset(); }

    void updateWithOneRefusedValueLeavesOneEntryNamingBoth_data();
    void updateWithOneRefusedValueLeavesOneEntryNamingBoth();
    void sheetRefusesWhatTheUnitDoesNotHold_data();
    void sheetRefusesWhatTheUnitDoesNotHold();
    void sheetTextHoldsEverySettingsValue();
};

void LogbookTest::updateWithOneRefusedValueLeavesOneEntryNamingBoth_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LogbookTest::updateWithOneRefusedValueLeavesOneEntryNamingBoth() {
    QFETCH(emu::Generation, generation);
    resetNamedUnit(generation);
    window = makeWindow();
    emu::Fault refuse;
    refuse.refuse = true;
    refuse.skip_first = 1;
    refuse.times = 1;
    emu_hid::unit().set_fault(wireIds(generation).set, refuse);
    w<QSpinBox>("spinBox_vmin")->setValue(30);
    w<QSpinBox>("spinBox_vne")->setValue(150);
    w<QPushButton>("pushButton_update")->click();
    QCOMPARE(status(), QStringLiteral("Sent 1 value(s), 1 failed"));

    const std::vector<QJsonObject> logged = entries();
    QCOMPARE(logged.size(), size_t{1});
    const QJsonObject& e = logged.front();
    QCOMPARE(e["action"].toString(), QStringLiteral("settings sent"));
    QCOMPARE(e["outcome"].toString(), QStringLiteral("failed"));
    QCOMPARE(e["front_end"].toString(), QStringLiteral("window"));
    QCOMPARE(e["serial_number"].toString(), serial_text(kSerial));
    QCOMPARE(e["generation"].toString(), generation == emu::Generation::Current
                                             ? QStringLiteral("current")
                                             : QStringLiteral("legacy"));
    QCOMPARE(e["link"].toString(), QStringLiteral("USB HID"));
    const QJsonArray changes = e["changes"].toArray();
    QCOMPARE(changes.size(), 2);
    const QJsonObject vmin{
        {"setting", "vmin"}, {"before", "40"}, {"sent", "30"}, {"result", "acknowledged"}};
    const QJsonObject vne{
        {"setting", "vne"}, {"before", "160"}, {"sent", "150"}, {"result", "refused"}};
    QCOMPARE(changes.at(0).toObject(), vmin);
    QCOMPARE(changes.at(1).toObject(), vne);
}

void LogbookTest::sheetRefusesWhatTheUnitDoesNotHold_data() {
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QString>("text");
    QTest::newRow("edit not sent") << true
                                   << QStringLiteral(
                                          "Error: 1 edit(s) not sent to the unit; "
                                          "press Update first");
    QTest::newRow("value not read") << false
                                    << QStringLiteral(
                                           "Error: The unit's settings were not read "
                                           "completely; press Load before saving the "
                                           "configuration sheet");
}

void LogbookTest::sheetRefusesWhatTheUnitDoesNotHold() {
    QFETCH(bool, edit);
    QFETCH(QString, text);
    resetNamedUnit(emu::Generation::Current);
    if (!edit) {
        emu::Fault silent;
        silent.answer = emu::AnswerKind::Reply;
        silent.no_answer = true;
        silent.skip_first = 4 + VNE_INDEX;
        silent.times = 1;
        emu_hid::unit().set_fault(wireIds(emu::Generation::Current).request, silent);
    }
    window = makeWindow();
    if (edit) {
        w<QSpinBox>("spinBox_vne")->setValue(150);
    }
    const QString path = home.filePath(QStringLiteral("refused.pdf"));
    {
        FileAnswer answer(path);
        trigger("action_configuration_sheet");
    }
    QCOMPARE(status(), text);
    QVERIFY(!QFile::exists(path));
}

void LogbookTest::sheetTextHoldsEverySettingsValue() {
    resetNamedUnit(emu::Generation::Current);
    window = makeWindow();
    w<QSpinBox>("spinBox_vne")->setValue(150);
    w<QPushButton>("pushButton_update")->click();
    const QString path = home.filePath(QStringLiteral("sheet.pdf"));
    {
        FileAnswer answer(path);
        trigger("action_configuration_sheet");
    }
    QCOMPARE(status(), QStringLiteral("Configuration sheet saved to ") + path);

    QProcess pdftotext;
    pdftotext.start(QStringLiteral(EFIS_PDFTOTEXT), {path, QStringLiteral("-")});
    QVERIFY(pdftotext.waitForFinished(60000));
    QCOMPARE(pdftotext.exitCode(), 0);
    // Words as the reader lays them out, one space between them.
    const QString text =
        QString::fromUtf8(pdftotext.readAllStandardOutput())
            .replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    const Settings_t held = emu_hid::unit().settings();
    QVERIFY2(held.vspeeds.Vne == 150, "the sheet is checked against what the unit holds");
    for (size_t s = 0; s < settings_table().size(); ++s) {
        const SettingDef& def = settings_table()[s];
        QString expected =
            QStringLiteral("%1 %2").arg(QLatin1String(def.name), human_value(held, s));
        if (def.kind == SettingKind::Colour) {
            expected += QStringLiteral(" (%1)").arg(hex_word(setting_words(held, s).front()));
        }
        QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" in ") + text));
    }
    for (const QString& line :
         {QStringLiteral("Aircraft registration VHABC"),
          QStringLiteral("Unit serial number ") + serial_text(kSerial),
          QStringLiteral("vne 160 -> 150 acknowledged"), QStringLiteral("Checked by")}) {
        QVERIFY2(text.contains(line), qPrintable(line));
    }
}

EFIS_QTEST(LogbookTest);
#include "test_logbook.moc"
