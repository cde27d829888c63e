// What the window does so that no edit is lost unnoticed and no stored value is changed
// behind the user's back: pending marks, values the form cannot show, the one-line text
// fields and the confirmation before closing.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>
#include <cmath>
#include <limits>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

namespace {

struct LossyCase {
    const char* name;
    void (*mutate)(Settings_t&);
    const char* control;
};

const LossyCase kLossyCases[] = {
    {"Vne above 240", [](Settings_t& s) { s.vspeeds.Vne = 250; }, "spinBox_vne"},
    {"voltage above 65 V", [](Settings_t& s) { s.volt_warnings.max_volts = 700; },
     "max_volt_warn_value"},
    {"voltage below 5 V", [](Settings_t& s) { s.volt_alerts.min_volts = 20; },
     "min_volt_alert_value"},
    {"erased registration",
     [](Settings_t& s) { std::memset(s.registration, 0xFF, sizeof(s.registration)); },
     "text_registration_num"},
    {"erased word", [](Settings_t& s) { s.map_track = static_cast<map_dir_t>(0xFFFFFFFFu); },
     "comboBox_map_view"},
    {"colour with alpha", [](Settings_t& s) { s.sky_color[0] = 0x8087CEEB; }, "color_picker_sky0"},
    {"NaN correction",
     [](Settings_t& s) { s.roll_correction = std::numeric_limits<float>::quiet_NaN(); },
     "roll_corr_spinbox"},
    {"correction finer than a tenth", [](Settings_t& s) { s.pitch_correction = 1.26f; },
     "pitch_corr_spinbox"},
};

}  // namespace

class PendingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;

    template <typename T>
    T* w(const char* name) {
        return widget<T>(window.get(), name);
    }
    void click(const char* name) { w<QPushButton>(name)->click(); }
    QString status() { return statusText(window.get()); }
    QString pendingText() { return w<QLabel>("label_pending_edits")->text(); }

private slots:
    void cleanup() { window.reset(); }

    void lossyValuesSurviveEditAndSave_data() {
        addGenerationColumn();
        addGenerationRows();
    }

    void lossyValuesSurviveEditAndSave() {
        QFETCH(emu::Generation, generation);
        for (const LossyCase& c : kLossyCases) {
            Settings_t held = sampleSettings();
            c.mutate(held);
            held = withCrc(held);
            resetUnit(generation, held);
            window = makeWindow();
            QVERIFY2(w<QWidget>(c.control)->toolTip().startsWith(QStringLiteral("The unit holds")),
                     c.name);

            // Another edit, sent and saved: the unit keeps the value the form cannot show,
            // and accepts the CRC because it is computed over what it holds.
            w<QSpinBox>("spinBox_vmin")->setValue(31);
            emu_hid::unit().clear_received();
            click("pushButton_update");
            const std::vector<SetCommand> sent = {{1, 31}};
            QVERIFY2(setCommands(wireIds(generation)) == sent, c.name);
            click("pushButton_save");
            QVERIFY2(status() == QStringLiteral("Configuration saved to EEPROM successfully"),
                     qPrintable(QStringLiteral("%1: %2").arg(c.name, status())));
            Settings_t expected = held;
            expected.vspeeds.Vmin = 31;
            expected = withCrc(expected);
            QVERIFY2(recordBytes(emu_hid::unit().settings()) == recordBytes(expected), c.name);

            FdCapture out(1);
            click("pushButton_load");
            QVERIFY2(out.text().contains("CRC Check Passed.\n"), c.name);
            QVERIFY2(w<QWidget>(c.control)->toolTip().startsWith(QStringLiteral("The unit holds")),
                     c.name);
        }
    }

    void unitGroupsNotEditedStayAsHeld() {
        // No speed unit set: the form shows Knots, but an altitude edit must not set it.
        Settings_t held = sampleSettings();
        held.units.units_value = 0x000010A8;
        resetUnit(emu::Generation::Current, withCrc(held));
        window = makeWindow();
        QVERIFY(w<QComboBox>("comboBox_airspeed")->toolTip().startsWith("The unit holds"));
        w<QComboBox>("comboBox_altitude")->setCurrentIndex(1);
        click("pushButton_update");
        QCOMPARE(emu_hid::unit().settings().units.units_value, 0x000010B0u);
        QVERIFY(w<QComboBox>("comboBox_airspeed")->toolTip().startsWith("The unit holds"));
    }

    void marksFollowEditUpdateAndSave() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        QCOMPARE(pendingText(), QString());
        QVERIFY(!w<QLabel>("label_vne")->font().bold());

        w<QSpinBox>("spinBox_vne")->setValue(170);
        w<QPlainTextEdit>("text_registration_num")->setPlainText(QStringLiteral("XYZ"));
        QVERIFY(w<QLabel>("label_vne")->font().bold());
        QVERIFY(w<QPlainTextEdit>("text_registration_num")->font().bold());
        QVERIFY(!w<QLabel>("label_vmin")->font().bold());
        QCOMPARE(pendingText(), QStringLiteral("2 edit(s) not sent"));

        click("pushButton_update");
        QVERIFY(!w<QLabel>("label_vne")->font().bold());
        QCOMPARE(pendingText(), QStringLiteral("Sent values not saved on the unit"));
        w<QSpinBox>("spinBox_vlo")->setValue(99);
        QCOMPARE(pendingText(),
                 QStringLiteral("1 edit(s) not sent · sent values not saved on the unit"));

        click("pushButton_update");
        click("pushButton_save");
        QCOMPARE(pendingText(), QString());
    }

    void oneLineFieldsTakeNoControlCharacters() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        auto* reg = w<QPlainTextEdit>("text_registration_num");
        reg->setFocus();
        QTRY_VERIFY(reg->hasFocus());
        QTest::keyClick(reg, Qt::Key_End);
        QTest::keyClick(reg, Qt::Key_Return);
        QTest::keyClick(reg, Qt::Key_Enter);
        QCOMPARE(reg->toPlainText(), QStringLiteral("ABC"));
        QTest::keyClick(reg, Qt::Key_Tab);
        QVERIFY(!reg->hasFocus());

        // A paste with a tab and line breaks keeps only the characters.
        reg->setPlainText(QStringLiteral("AB\tC\nD\r"));
        QCOMPARE(reg->toPlainText(), QStringLiteral("ABCD"));
        emu_hid::unit().clear_received();
        click("pushButton_update");
        QCOMPARE(QByteArray(emu_hid::unit().settings().registration, 12),
                 QByteArray("VHABCD\0\0\0\0\0\0", 12));
    }

    void closeAsksOnlyWhenSomethingWouldBeLost() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        {
            BoxAnswer answer(QStringLiteral("Cancel"));
            QVERIFY(window->close());
            QVERIFY(answer.asked().isEmpty());
        }
        window = makeWindow();
        w<QSpinBox>("spinBox_vne")->setValue(170);
        {
            BoxAnswer keep(QStringLiteral("Cancel"));
            QVERIFY(!window->close());
            QCOMPARE(keep.asked(), QStringList{QStringLiteral("Close with unsaved settings?")});
            QVERIFY(window->isVisible());
        }
        click("pushButton_update");
        {
            // Sent but not saved is asked about as well.
            BoxAnswer close(QStringLiteral("Close Anyway"));
            QVERIFY(window->close());
            QCOMPARE(close.asked().size(), 1);
        }
    }
};

EFIS_QTEST(PendingTest);
#include "test_pending.moc"
