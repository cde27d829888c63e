#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

using Edit = std::function<void(QWidget*)>;
using Commands = std::vector<SetCommand>;
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Commands)

namespace {

template <typename T>
Edit on(const char* name, std::function<void(T*)> change) {
    return [name, change](QWidget* window) { change(widget<T>(window, name)); };
}

Edit spin(const char* name, int value) {
    return on<QSpinBox>(name, [value](QSpinBox* box) { box->setValue(value); });
}

Edit dspin(const char* name, double value) {
    return on<QDoubleSpinBox>(name, [value](QDoubleSpinBox* box) { box->setValue(value); });
}

Edit combo(const char* name, int index) {
    return on<QComboBox>(name, [index](QComboBox* box) { box->setCurrentIndex(index); });
}

Edit slider(const char* name, int value) {
    return on<QSlider>(name, [value](QSlider* s) { s->setValue(value); });
}

Edit text(const char* name, const QString& value) {
    return on<QPlainTextEdit>(name, [value](QPlainTextEdit* t) { t->setPlainText(value); });
}

// Answers the next colour dialog that opens: checks what it offers, then picks `colour` or
// cancels (an invalid `colour`).
struct DialogDriver {
    explicit DialogDriver(const QColor& choice) : pick(choice) {}

    QColor pick;
    bool seen = false;
    QString seenTitle;
    QColor seenInitial;
    QColor seenCustom;

    void arm() {
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [this, timer] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QColorDialog*>(top);
                if (dialog == nullptr || !dialog->isVisible()) {
                    continue;
                }
                seen = true;
                seenTitle = dialog->windowTitle();
                seenInitial = dialog->currentColor();
                seenCustom = QColorDialog::customColor(1);
                if (pick.isValid()) {
                    dialog->setCurrentColor(pick);
                    dialog->accept();
                } else {
                    dialog->reject();
                }
                timer->stop();
                timer->deleteLater();
                return;
            }
        });
        timer->start();
    }
};

}  // namespace

// Every edit handler, driven through its real widget, and what the next Update sends.
class EditsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;

    void open(emu::Generation g) {
        resetUnit(g);
        window = makeWindow();
        emu_hid::unit().clear_received();
    }
    void update() { widget<QPushButton>(window.get(), "pushButton_update")->click(); }
    QString status() { return statusText(window.get()); }

    SharedWindow shared;

private slots:
    void cleanup() { window.reset(); }
    void cleanupTestCase() { shared.reset(); }

    void handlerSendsIndexAndValue_data();
    void handlerSendsIndexAndValue();
    void typingIcaoKeepsIndexOnce();
    void switchingIcaoTypeRunsTwiceSendsOnce();
    void colourPickerAccept_data();
    void colourPickerAccept();
    void colourPickerCancel();
};

void EditsTest::handlerSendsIndexAndValue_data() {
    addGenerationColumn();
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<Commands>("sent");
    // The unit holds sampleSettings(): units 0x10AA, registration VHABC, and so on.
    struct Row {
        const char* name;
        Edit edit;
        Commands sent;
    };
    const Row rows[] = {
        {"airspeed KPH", combo("comboBox_airspeed", 2), {{0, 0x10ACu}}},
        {"airspeed MPH", combo("comboBox_airspeed", 0), {{0, 0x10A9u}}},
        {"altitude meters", combo("comboBox_altitude", 1), {{0, 0x10B2u}}},
        {"temperature celsius", combo("comboBox_temp", 1), {{0, 0x10CAu}}},
        {"pressure mbar", combo("comboBox_pressure", 1), {{0, 0x112Au}}},
        {"Vmin", spin("spinBox_vmin", 55), {{1, 55}}},
        {"Vs0", spin("spinBox_vs0", 46), {{2, 46}}},
        {"Vs1", spin("spinBox_vs1", 51), {{3, 51}}},
        {"Vfe", spin("spinBox_vfe", 86), {{4, 86}}},
        {"Vn0", spin("spinBox_vn0", 121), {{5, 121}}},
        {"Vne", spin("spinBox_vne", 240), {{6, 240}}},
        {"Vne above limit", spin("spinBox_vne", 255), {{6, 240}}},
        {"Vref", spin("spinBox_vref", 66), {{7, 66}}},
        {"Vlo", spin("spinBox_vlo", 255), {{8, 255}}},
        {"min volt warning", dspin("min_volt_warn_value", 12.5), {{9, 125}}},
        {"max volt warning", dspin("max_volt_warn_value", 14.3), {{10, 143}}},
        {"min volt alert", dspin("min_volt_alert_value", 10.7), {{27, 107}}},
        {"max volt alert", dspin("max_volt_alert_value", 64.9), {{28, 649}}},
        {"registration text",
         text("text_registration_num", QStringLiteral("XYZ12")),
         {{11, 0x56485859u}, {12, 0x5A313200u}, {13, 0}}},
        {"registration prefix",
         on<QComboBox>("comboBox_reg_prefix",
                       [](QComboBox* c) { c->setCurrentIndex(c->findText(QStringLiteral("9H"))); }),
         {{11, 0x39484142u}, {12, 0x43000000u}, {13, 0}}},
        {"registration cleared",
         text("text_registration_num", QString()),
         {{11, 0}, {12, 0}, {13, 0}}},
        {"registration long",
         text("text_registration_num", QStringLiteral("ABCDEFGHIJKLM")),
         {{11, 0x56484142u}, {12, 0x43444546u}, {13, 0x47484900u}}},
        {"backlight", slider("backlight_slider", 3), {{24, 3}}},
        {"roll 0.1", dspin("roll_corr_spinbox", 0.1), {{25, 0x3DCCCCCDu}}},
        {"pitch -2.5", dspin("pitch_corr_spinbox", -2.5), {{26, 0xC0200000u}}},
        {"text alpha", slider("text_bg_alpha_slider", 254), {{29, 254}}},
        {"icao", text("text_icao", QStringLiteral("abc124")), {{31, 0xABC124u}}},
        {"icao not a number", text("text_icao", QStringLiteral("xyz")), {{31, 0}}},
        {"random icao",
         on<QRadioButton>("radioButton_rand_icao", [](QRadioButton* r) { r->click(); }),
         {{32, 1}}},
        {"emitter", combo("comboBox_emitter_cat", 14), {{33, 14}}},
        {"term disable", combo("comboBox_term_res", 1), {{34, 0}}},
        {"map north up", combo("comboBox_map_view", 0), {{35, 0}}},
    };
    for (emu::Generation g : {emu::Generation::Current, emu::Generation::Legacy}) {
        for (const Row& row : rows) {
            QTest::addRow("%s %s", g == emu::Generation::Current ? "current" : "legacy", row.name)
                << g << row.edit << row.sent;
        }
    }
}

void EditsTest::handlerSendsIndexAndValue() {
    QFETCH(emu::Generation, generation);
    QFETCH(Edit, edit);
    QFETCH(Commands, sent);
    MainWindow* const main = shared.freshlyLoaded(generation);
    QCOMPARE(statusText(main), QStringLiteral("Configuration successfully loaded from device"));
    edit(main);
    auto* const updateButton = widget<QPushButton>(main, "pushButton_update");
    updateButton->click();
    QCOMPARE(
        statusText(main),
        QStringLiteral("Successfully sent %1 configuration value(s) to device").arg(sent.size()));
    const Commands wire = setCommands(wireIds(generation));
    QCOMPARE(wire.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        QCOMPARE(int{wire[i].index}, int{sent[i].index});
        QCOMPARE(wire[i].value, sent[i].value);
    }
    updateButton->click();
    QCOMPARE(statusText(main), QStringLiteral("No changes to send"));
}

void EditsTest::typingIcaoKeepsIndexOnce() {
    open(emu::Generation::Current);
    auto* icao = widget<QPlainTextEdit>(window.get(), "text_icao");
    icao->clear();
    icao->setFocus();
    QTest::keyClicks(icao, QStringLiteral("12"));
    QCOMPARE(user_config.ownship_icao, 0x12u);
    update();
    const Commands expected = {{31, 0x12}};
    QVERIFY(setCommands(wireIds(emu::Generation::Current)) == expected);
}

void EditsTest::switchingIcaoTypeRunsTwiceSendsOnce() {
    open(emu::Generation::Current);
    widget<QRadioButton>(window.get(), "radioButton_rand_icao")->click();
    QCOMPARE(user_config.icao_address_type, 1u);
    update();
    const Commands expected = {{32, 1}};
    QVERIFY(setCommands(wireIds(emu::Generation::Current)) == expected);
    emu_hid::unit().clear_received();
    widget<QRadioButton>(window.get(), "radioButton_use_icao")->click();
    update();
    const Commands back = {{32, 0}};
    QVERIFY(setCommands(wireIds(emu::Generation::Current)) == back);
}

void EditsTest::colourPickerAccept_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QColor>("custom");
    QTest::addColumn<QColor>("initial");
    QTest::addColumn<int>("index");
    // Initial colours as sampleSettings() holds them.
    QTest::newRow("sky 0") << "color_picker_sky0"
                           << "Select Sky Color 0" << QColor(135, 206, 235)
                           << QColor(0x87, 0xCE, 0xEB) << 14;
    QTest::newRow("sky 1") << "color_picker_sky1"
                           << "Select Sky Color 1" << QColor(135, 206, 235)
                           << QColor(0x46, 0x82, 0xB4) << 15;
    QTest::newRow("ground 0") << "color_picker_ground0"
                              << "Select Ground Color 0" << QColor(34, 139, 34)
                              << QColor(0x22, 0x8B, 0x22) << 16;
    QTest::newRow("ground 1") << "color_picker_ground1"
                              << "Select Ground Color 1" << QColor(34, 139, 34)
                              << QColor(0x8B, 0x45, 0x13) << 17;
    QTest::newRow("approach") << "color_picker_app_indi"
                              << "Select Approach Indicator Color" << QColor(255, 255, 0)
                              << QColor(0xFF, 0x00, 0xFF) << 18;
    QTest::newRow("airplane") << "color_picker_airplane"
                              << "Select Airplane Color" << QColor(255, 255, 255)
                              << QColor(0xFF, 0xFF, 0x00) << 19;
    QTest::newRow("green") << "color_picker_green"
                           << "Select Green Arc Color" << QColor(0, 255, 0)
                           << QColor(0x00, 0xFF, 0x00) << 20;
    QTest::newRow("yellow") << "color_picker_yellow"
                            << "Select Yellow Arc Color" << QColor(255, 255, 0)
                            << QColor(0xFF, 0xD7, 0x00) << 21;
    QTest::newRow("red") << "color_picker_red"
                         << "Select Red Arc Color" << QColor(255, 0, 0) << QColor(0xDC, 0x14, 0x3C)
                         << 22;
    QTest::newRow("gear") << "color_picker_gear"
                          << "Select Gear Indicator Color" << QColor(255, 255, 255)
                          << QColor(0x00, 0xCE, 0xD1) << 23;
}

void EditsTest::colourPickerAccept() {
    QFETCH(QString, button);
    QFETCH(QString, title);
    QFETCH(QColor, custom);
    QFETCH(QColor, initial);
    QFETCH(int, index);
    open(emu::Generation::Current);
    QColorDialog::setCustomColor(1, Qt::black);
    DialogDriver driver(QColor(255, 0, 0, 128));
    driver.arm();
    auto* face = widget<QPushButton>(window.get(), button.toLatin1().constData());
    face->click();
    QTRY_VERIFY(driver.seen);
    QCOMPARE(driver.seenTitle, title);
    QCOMPARE(driver.seenInitial.rgb(), initial.rgb());
    QCOMPARE(driver.seenCustom.rgb(), custom.rgb());
    // The chosen alpha is dropped: the colour is stored opaque.
    QCOMPARE(face->styleSheet(), QStringLiteral("background-color: #ff0000;"));
    update();
    const Commands expected = {{static_cast<uint8_t>(index), 0xFFFF0000u}};
    QVERIFY(setCommands(wireIds(emu::Generation::Current)) == expected);
}

void EditsTest::colourPickerCancel() {
    open(emu::Generation::Current);
    auto* face = widget<QPushButton>(window.get(), "color_picker_red");
    const QString before = face->styleSheet();
    const QByteArray record = recordBytes(user_config);
    const QColor cancel;
    DialogDriver driver(cancel);
    driver.arm();
    face->click();
    QTRY_VERIFY(driver.seen);
    QCOMPARE(face->styleSheet(), before);
    QCOMPARE(recordBytes(user_config), record);
    update();
    QCOMPARE(status(), QStringLiteral("No changes to send"));
}

EFIS_QTEST(EditsTest);
#include "test_edits.moc"
