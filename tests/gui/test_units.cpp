// Two units on USB: the window uses neither until one is chosen in Device > Unit, then that
// one alone; the choice is remembered.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QtTest>

#include "EFIS_shared/get_set.h"
#include "gui_test_support.h"
#include "settings/word_text.h"
#include "tests/qtest_registry.h"

namespace {

constexpr uint32_t kSerials[] = {0x00C0FFEE, 0x00BADA55};

// Frames other than the identification the unit received.
size_t commands(size_t unit) {
    size_t n = 0;
    for (const COMMS_MSG_t& f : emu_hid::unit(unit).received()) {
        n += f.can_ID != 0x010 && f.can_ID != 0x123 ? 1 : 0;
    }
    return n;
}

}  // namespace

class UnitsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> window;

    QString status() { return statusText(window.get()); }
    QString link() { return widget<QLabel>(window.get(), "label_link")->text(); }
    QAction* unitAction(uint32_t serial) {
        QMenu* menu = widget<QMenu>(window.get(), "menu_unit");
        emit menu->aboutToShow();
        return window->findChild<QAction*>(QStringLiteral("action_unit_") + serial_text(serial));
    }

private slots:
    void init() {
        emu_hid::reset();
        resetUnit(emu::Generation::Current);
        emu_hid::set_unit_count(2);
        for (size_t i = 0; i < 2; ++i) {
            emu_hid::unit(i).set_serial(kSerials[i]);
            emu_hid::unit(i).set_settings(sampleSettings());
        }
    }
    void cleanup() {
        window.reset();
        emu_hid::reset();
    }

    void nothingSentUntilOneIsChosenThenOnlyToIt() {
        window = makeWindow();
        QCOMPARE(status(), QStringLiteral("Warning: 2 units are connected (0x00C0FFEE, "
                                          "0x00BADA55); choose one in Device > Unit"));
        for (const char* name :
             {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
            QVERIFY2(!widget<QWidget>(window.get(), name)->isEnabled(), name);
        }
        QCOMPARE(commands(0) + commands(1), size_t{0});
        QAction* other = unitAction(kSerials[1]);
        QVERIFY(other != nullptr);
        QVERIFY(!other->isChecked());

        other->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(
            status(), QStringLiteral("Configuration successfully loaded from device"), 10000);
        QVERIFY(link().startsWith(QStringLiteral("USB HID · serial 0x00BADA55 · ")));
        QVERIFY(unitAction(kSerials[1])->isChecked());
        widget<QSpinBox>(window.get(), "spinBox_vne")->setValue(171);
        widget<QPushButton>(window.get(), "pushButton_update")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QStringLiteral("Successfully sent 1")), 5000);
        Settings_t chosen = emu_hid::unit(1).settings();
        Settings_t other_unit = emu_hid::unit(0).settings();
        QCOMPARE(settings_get_value(&chosen, VNE_INDEX), 171u);
        QCOMPARE(settings_get_value(&other_unit, VNE_INDEX), 160u);
        QCOMPARE(commands(0), size_t{0});

        // The choice is remembered: a new window takes the same unit without asking.
        window.reset();
        emu_hid::unit(0).clear_received();
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(waitForConnectionAttempt(window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(
            status(), QStringLiteral("Configuration successfully loaded from device"), 10000);
        QVERIFY(link().startsWith(QStringLiteral("USB HID · serial 0x00BADA55 · ")));
        QCOMPARE(commands(0), size_t{0});
    }
};

EFIS_QTEST(UnitsTest);
#include "test_units.moc"
