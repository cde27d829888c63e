#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

#include <iterator>
#include <utility>

#include "form_fixture.h"
#include "gui/form_controls.h"
#include "settings/setting_names.h"
#include "tests/qtest_registry.h"

// What the form shows right after set-up: texts, fonts, ranges, initial values and states.
class FormValuesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FormFixture> form;

private slots:
    void init() { form = std::make_unique<FormFixture>(); }
    void cleanup() { form.reset(); }

    void font_data();
    void font();
    void labelText_data();
    void labelText();
    void buttonText_data();
    void buttonText();
    void emptyToolTip_data();
    void emptyToolTip();
    void speedToolTip_data();
    void speedToolTip();
    void vminToolTip();
    void speedRange_data();
    void speedRange();
    void speedLimits();
    void vminStepsByTen();
    void vminRestoresPreviousValueOnBadInput();
    void voltRange_data();
    void voltRange();
    void slider_data();
    void slider();
    void settingRanges_data();
    void settingRanges();
    void comboItems_data();
    void comboItems();
    void plainTextEdit_data();
    void plainTextEdit();
    void plainTextEditAcceptsAnyText();
    void fileEdit_data();
    void fileEdit();
    void enabledState_data();
    void enabledState();
    void progressBar_data();
    void progressBar();
    void frameStyle_data();
    void frameStyle();
    void sizePolicyAndDirection();
};

// 0 stands for the default font: the control sets none of its own.
void FormValuesTest::font_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pointSize");

    auto rows = [](std::initializer_list<const char*> names, int size) {
        for (const char* n : names) {
            QTest::newRow(n) << QString(n) << size;
        }
    };
    rows({"comboBox_reg_prefix",
          "text_registration_num",
          "label_airspeed_units",
          "label_altitude_units",
          "label_pressure_units",
          "label_temp_units",
          "label_vmin",
          "label_vs0",
          "label_vs1",
          "label_vfe",
          "label_vn0",
          "label_vne",
          "label_vref",
          "label_vlo",
          "spinBox_vmin",
          "spinBox_vs0",
          "spinBox_vs1",
          "spinBox_vfe",
          "spinBox_vn0",
          "spinBox_vne",
          "spinBox_vref",
          "spinBox_vlo",
          "sky_top_label",
          "sky_bottom_label",
          "ground_top_label",
          "ground_bottom_label",
          "approach_indi_label",
          "gear_label",
          "airplane_label",
          "green_label",
          "yellow_label",
          "red_label",
          "label_MinVolt_alert",
          "label_MinVolt_warn",
          "label_MaxVolt_warn",
          "label_MaxVolt_alarm",
          "label_roll_corr",
          "label_pitch_corr",
          "label_brightness",
          "label_text_bg_alpha",
          "label_emitter_cat",
          "label_icao_anon",
          "label_icao_num",
          "text_icao",
          "label_map_view",
          "label_map_view_2",
          "pushButton_browse",
          "pushButton_start_update",
          "pushButton_reboot",
          "pushButton_browse_airports",
          "pushButton_start_airport",
          "label_emitter_cat_2",
          "pushButton_start_Pt_zerocal"},
         12);
    rows({"pushButton_load", "pushButton_update", "pushButton_save", "text_firmware_file",
          "text_firmware_file_2"},
         10);
    rows({"comboBox_airspeed",       "comboBox_altitude",     "comboBox_pressure",
          "comboBox_temp",           "color_picker_sky0",     "color_picker_red",
          "min_volt_alert_value",    "min_volt_warn_value",   "max_volt_warn_value",
          "max_volt_alert_value",    "roll_corr_spinbox",     "pitch_corr_spinbox",
          "backlight_slider",        "text_bg_alpha_slider",  "comboBox_emitter_cat",
          "radioButton_use_icao",    "radioButton_rand_icao", "comboBox_map_view",
          "comboBox_term_res",       "progressBar_firmware",  "progressBar_airports",
          "progressBar_Pt_zeropoint"},
         0);
}

void FormValuesTest::font() {
    QFETCH(QString, name);
    QFETCH(int, pointSize);

    QWidget* widget = form->find<QWidget>(name);
    QVERIFY(widget != nullptr);
    if (pointSize == 0) {
        QVERIFY(!widget->testAttribute(Qt::WA_SetFont));
    } else {
        QVERIFY(widget->testAttribute(Qt::WA_SetFont));
        QCOMPARE(widget->font().pointSize(), pointSize);
    }
}

void FormValuesTest::labelText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("alignment");

    const int right = Qt::AlignRight | Qt::AlignVCenter;
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    auto row = [](const char* name, const char* text, int alignment) {
        QTest::newRow(name) << QString(name) << QString(text) << alignment;
    };
    row("label_airspeed_units", "Airspeed Units", left);
    row("label_altitude_units", "Altitude Units", left);
    row("label_pressure_units", "Pressure Units", left);
    row("label_temp_units", "Temperature Units", left);
    row("label_vmin", "Vmin", left);
    row("label_vs0", "Vs0", left);
    row("label_vs1", "Vs1", left);
    row("label_vfe", "Vfe", left);
    row("label_vn0", "Vn0", left);
    row("label_vne", "Vne", left);
    row("label_vref", "Vref", left);
    row("label_vlo", "Vlo", left);
    row("sky_top_label", "Sky Upper", right);
    row("sky_bottom_label", "Sky Lower", right);
    row("ground_top_label", "Ground Upper", right);
    row("ground_bottom_label", "Ground Lower", right);
    row("approach_indi_label", "Approach Indicator", right);
    row("gear_label", "Gear Indicator", right);
    row("airplane_label", "Airplane", right);
    row("green_label", "Green Arc", right);
    row("yellow_label", "Yellow Arc", right);
    row("red_label", "Red Arc", right);
    row("label_MinVolt_alert", "Min Volt Alert", right);
    row("label_MinVolt_warn", "Min Volt Warning", right);
    row("label_MaxVolt_warn", "Max Volt Warning", right);
    row("label_MaxVolt_alarm", "Max Volt Alert", right);
    row("label_roll_corr", "Roll Correction", right);
    row("label_pitch_corr", "Pitch Correction", right);
    row("label_brightness", "Display Brightness", left);
    row("label_text_bg_alpha", "Text Background Transparency", left);
    row("label_emitter_cat", "Emitter Catagory", left);
    row("label_icao_anon", "ICAO Anonymity", left);
    row("label_icao_num", "ICAO #", left);
    row("label_map_view", "Map View", left);
    row("label_map_view_2", "Termination Resistor", left);
    row("label_emitter_cat_2", "Perform Pitot Zero Point Calibration", left);
}

void FormValuesTest::labelText() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, alignment);

    auto* label = form->find<QLabel>(name);
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), text);
    QCOMPARE(int(label->alignment()), alignment);
}

void FormValuesTest::buttonText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    auto row = [](const char* name, const char* text) {
        QTest::newRow(name) << QString(name) << QString(text);
    };
    row("pushButton_load", "Load settings from EFIS");
    row("pushButton_update", "Update Settings on EFIS");
    row("pushButton_save", "Save settings to EFIS");
    row("pushButton_browse", "Select Firmware File");
    row("pushButton_start_update", "Start Update");
    row("pushButton_reboot", "Reboot EFIS");
    row("pushButton_browse_airports", "Select Airport DB File");
    row("pushButton_start_airport", "Start Transfer");
    row("pushButton_start_Pt_zerocal", "Start");
    row("radioButton_use_icao", "Use ICAO #");
    row("radioButton_rand_icao", "Random ICAO #");
    for (const char* n :
         {"color_picker_sky0", "color_picker_sky1", "color_picker_ground0", "color_picker_ground1",
          "color_picker_app_indi", "color_picker_gear", "color_picker_airplane",
          "color_picker_green", "color_picker_yellow", "color_picker_red"}) {
        row(n, "");
    }
}

void FormValuesTest::buttonText() {
    QFETCH(QString, name);
    QFETCH(QString, text);

    auto* button = form->find<QAbstractButton>(name);
    QVERIFY(button != nullptr);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->styleSheet(), QString());
}

void FormValuesTest::emptyToolTip_data() {
    QTest::addColumn<QString>("name");
    for (const char* n :
         {"label_airspeed_units", "label_altitude_units", "label_pressure_units",
          "label_temp_units", "label_emitter_cat", "label_icao_anon", "label_icao_num",
          "label_map_view", "label_map_view_2", "label_emitter_cat_2"}) {
        QTest::newRow(n) << QString(n);
    }
}

void FormValuesTest::emptyToolTip() {
    QFETCH(QString, name);

    QWidget* widget = form->find<QWidget>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->toolTip(), QString("<html><head/><body><p><br/></p></body></html>"));
}

void FormValuesTest::speedToolTip_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("bold");
    QTest::addColumn<QString>("plain");

    auto row = [](const char* name, const char* bold, const char* plain) {
        QTest::newRow(name) << QString(name) << QString(bold) << QString::fromUtf8(plain);
    };
    row("label_vs0", "Dirty stall speed",
        "Dirty stall speed (Bottom of white arc)\n"
        "Stall speed or minimum flight speed in landing configuration");
    row("label_vs1", "Clean stall speed",
        "Clean stall speed (Bottom of green arc)\n"
        "Stall speed or minimum steady flight speed for which the aircraft is still "
        "controllable in a specific configuration");
    row("label_vfe", "Maximum flap extension speed",
        "Maximum flap extension speed (Top of white arc)");
    row("label_vn0", "Maximum structural cruising speed",
        "Maximum structural cruising speed (Top of green arc)\n"
        "Maximum structural cruising speed or maximum speed for normal operations.");
    row("label_vne", "Never exceed speed", "Never exceed speed (Bottom of red arc)");
    row("label_vref", "Approach speed",
        "Approach speed (Magenta indicator)\n"
        "Landing reference speed or threshold crossing speed");
    row("label_vlo", "Gear operating speed",
        "Gear operating speed (**placeholder**)\n"
        "Maximum landing gear operating speed");
}

void FormValuesTest::speedToolTip() {
    QFETCH(QString, name);
    QFETCH(QString, bold);
    QFETCH(QString, plain);

    auto* label = form->find<QLabel>(name);
    QVERIFY(label != nullptr);
    const QString tip = label->toolTip();
    QVERIFY(Qt::mightBeRichText(tip));
    QVERIFY(tip.contains(QString("<span style=\" font-weight:700;\">%1</span>").arg(bold)));

    QTextDocument doc;
    doc.setHtml(tip);
    QCOMPARE(doc.toPlainText(), plain);

    // The leading phrase of the first paragraph is bold, the rest of the text is not.
    const QTextBlock first = doc.firstBlock();
    QTextBlock::iterator it = first.begin();
    QVERIFY(!it.atEnd());
    QCOMPARE(it.fragment().text(), bold);
    QVERIFY(it.fragment().charFormat().fontWeight() >= int(QFont::Bold));
    for (++it; !it.atEnd(); ++it) {
        QCOMPARE(it.fragment().charFormat().fontWeight(), int(QFont::Normal));
    }
    const int paragraphs = plain.count('\n') + 1;
    QCOMPARE(doc.blockCount(), paragraphs);
}

void FormValuesTest::vminToolTip() {
    const QString tip = form->ui.label_vmin->toolTip();
    QCOMPARE(tip, QString("Minimum airspeed that will be displayed"));
    QVERIFY(!Qt::mightBeRichText(tip));
}

void FormValuesTest::speedRange_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("step");

    QTest::newRow("vmin") << "spinBox_vmin" << 255 << 10;
    QTest::newRow("vs0") << "spinBox_vs0" << 255 << 1;
    QTest::newRow("vs1") << "spinBox_vs1" << 255 << 1;
    QTest::newRow("vfe") << "spinBox_vfe" << 255 << 1;
    QTest::newRow("vn0") << "spinBox_vn0" << 255 << 1;
    QTest::newRow("vne") << "spinBox_vne" << 240 << 1;
    QTest::newRow("vref") << "spinBox_vref" << 255 << 1;
    QTest::newRow("vlo") << "spinBox_vlo" << 255 << 1;
}

void FormValuesTest::speedRange() {
    QFETCH(QString, name);
    QFETCH(int, maximum);
    QFETCH(int, step);

    auto* spin = form->find<QSpinBox>(name);
    QVERIFY(spin != nullptr);
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), maximum);
    QCOMPARE(spin->singleStep(), step);
    QCOMPARE(spin->value(), 0);
    QCOMPARE(spin->text(), QString("0"));
    QCOMPARE(spin->correctionMode(), QAbstractSpinBox::CorrectToPreviousValue);
}

void FormValuesTest::speedLimits() {
    form->ui.spinBox_vne->setValue(255);
    QCOMPARE(form->ui.spinBox_vne->value(), 240);
    form->ui.spinBox_vs0->setValue(255);
    QCOMPARE(form->ui.spinBox_vs0->value(), 255);
    form->ui.spinBox_vs0->setValue(-1);
    QCOMPARE(form->ui.spinBox_vs0->value(), 0);
}

void FormValuesTest::vminStepsByTen() {
    QSpinBox* vmin = form->ui.spinBox_vmin;
    vmin->stepUp();
    QCOMPARE(vmin->value(), 10);
    QTest::keyClick(vmin, Qt::Key_Up);
    QCOMPARE(vmin->value(), 20);
    QTest::keyClick(vmin, Qt::Key_Down);
    QCOMPARE(vmin->value(), 10);
}

void FormValuesTest::vminRestoresPreviousValueOnBadInput() {
    QSpinBox* vmin = form->ui.spinBox_vmin;
    vmin->setValue(50);
    QLineEdit* edit = vmin->findChild<QLineEdit*>();
    QVERIFY(edit != nullptr);
    edit->clear();
    QCOMPARE(edit->text(), QString());
    QTest::keyClick(vmin, Qt::Key_Return);
    QCOMPARE(vmin->value(), 50);
    QCOMPARE(vmin->text(), QString("50"));
}

void FormValuesTest::voltRange_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("min alert") << "min_volt_alert_value" << 5.0 << 65.0 << 11.5 << "11.5";
    QTest::newRow("min warn") << "min_volt_warn_value" << 5.0 << 65.0 << 11.5 << "11.5";
    QTest::newRow("max warn") << "max_volt_warn_value" << 5.0 << 65.0 << 15.5 << "15.5";
    QTest::newRow("max alert") << "max_volt_alert_value" << 5.0 << 65.0 << 15.5 << "15.5";
    QTest::newRow("roll") << "roll_corr_spinbox" << -90.0 << 90.0 << 0.0 << "0.0";
    QTest::newRow("pitch") << "pitch_corr_spinbox" << -90.0 << 90.0 << 0.0 << "0.0";
}

void FormValuesTest::voltRange() {
    QFETCH(QString, name);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, value);
    QFETCH(QString, text);

    auto* spin = form->find<QDoubleSpinBox>(name);
    QVERIFY(spin != nullptr);
    QCOMPARE(spin->decimals(), 1);
    QCOMPARE(spin->minimum(), minimum);
    QCOMPARE(spin->maximum(), maximum);
    QCOMPARE(spin->singleStep(), 0.1);
    QCOMPARE(spin->value(), value);
    QCOMPARE(spin->text(), text);

    spin->stepUp();
    QCOMPARE(spin->value(), value + 0.1);
    spin->setValue(1.26 + value);
    QCOMPARE(spin->value(), value + 1.3);
    spin->setValue(maximum + 1.0);
    QCOMPARE(spin->value(), maximum);
    spin->setValue(minimum - 1.0);
    QCOMPARE(spin->value(), minimum);
}

void FormValuesTest::slider_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");

    QTest::newRow("brightness") << "backlight_slider" << 21 << 10;
    QTest::newRow("transparency") << "text_bg_alpha_slider" << 254 << 150;
}

void FormValuesTest::slider() {
    QFETCH(QString, name);
    QFETCH(int, maximum);
    QFETCH(int, value);

    auto* slider = form->find<QSlider>(name);
    QVERIFY(slider != nullptr);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), maximum);
    QCOMPARE(slider->value(), value);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QVERIFY(!slider->invertedAppearance());
    QVERIFY(!slider->invertedControls());
    slider->setValue(maximum + 1);
    QCOMPARE(slider->value(), maximum);
}

namespace {

// The settings table bounds values given in the form's terms (efis-cli, files) to what these
// controls offer, and the window gives the controls those values: every range there has its
// control here.
const std::pair<const char*, const char*> kRangedControls[] = {
    {"vmin", "spinBox_vmin"},
    {"vs0", "spinBox_vs0"},
    {"vs1", "spinBox_vs1"},
    {"vfe", "spinBox_vfe"},
    {"vn0", "spinBox_vn0"},
    {"vne", "spinBox_vne"},
    {"vref", "spinBox_vref"},
    {"vlo", "spinBox_vlo"},
    {"min_volts_warning", "min_volt_warn_value"},
    {"max_volts_warning", "max_volt_warn_value"},
    {"min_volts_alert", "min_volt_alert_value"},
    {"max_volts_alert", "max_volt_alert_value"},
    {"backlight_brightness", "backlight_slider"},
    {"roll_correction", "roll_corr_spinbox"},
    {"pitch_correction", "pitch_corr_spinbox"},
    {"text_bg_alpha", "text_bg_alpha_slider"},
};

}  // namespace

void FormValuesTest::settingRanges_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("control");

    for (const auto& [setting, control] : kRangedControls) {
        QTest::newRow(setting) << setting << control;
    }
}

void FormValuesTest::settingRanges() {
    QFETCH(QString, setting);
    QFETCH(QString, control);

    int limited = 0;
    for (const SettingDef& def : settings_table()) {
        limited += def.range.limited ? 1 : 0;
    }
    QCOMPARE(limited, static_cast<int>(std::size(kRangedControls)));
    const int index = setting_by_name(setting);
    QVERIFY(index >= 0);
    const SettingRange& range = settings_table()[static_cast<size_t>(index)].range;
    QVERIFY(range.limited);
    QWidget* widget = form->find<QWidget>(control);
    QVERIFY(widget != nullptr);
    // Whatever the form file says, the window's set-up gives the control its setting's values.
    const bool decimal = widget->property("decimals").isValid();
    for (const char* property : {"minimum", "maximum", "singleStep"}) {
        widget->setProperty(property, 3);
    }
    if (decimal) {
        widget->setProperty("decimals", 3);
    }
    applySettingRanges(&form->ui);
    QCOMPARE(widget->property("minimum").toDouble(), range.low);
    QCOMPARE(widget->property("maximum").toDouble(), range.high);
    QCOMPARE(widget->property("singleStep").toDouble(), range.step);
    QCOMPARE(decimal ? widget->property("decimals").toInt() : 0, range.decimals);
}

void FormValuesTest::comboItems_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("registration prefix") << "comboBox_reg_prefix" << QStringList{};
    QTest::newRow("airspeed") << "comboBox_airspeed" << QStringList{"MPH", "Knots", "KPH"};
    QTest::newRow("altitude") << "comboBox_altitude" << QStringList{"Feet", "Meters"};
    QTest::newRow("pressure") << "comboBox_pressure" << QStringList{"InHg", "Mbar"};
    QTest::newRow("temperature") << "comboBox_temp" << QStringList{"Fahrenheit", "Celsius"};
    QTest::newRow("map view") << "comboBox_map_view" << QStringList{"North Up", "Track Up"};
    QTest::newRow("termination") << "comboBox_term_res" << QStringList{"Enable", "Disable"};
    QTest::newRow("emitter category")
        << "comboBox_emitter_cat"
        << QStringList{"A0 : Reserved",
                       "A1 : Light (< 15.5k lbs)",
                       "A2 : Small (15.5k to 75k lbs)",
                       "A3 : Large (75k to 300k lbs)",
                       "A4 : High vortex large",
                       "A5 : Heavy (> 300k lbs) ",
                       "A6 : High Perf > 5g & 400 kts",
                       "A7 : Rotorcraft",
                       "B0 : Reserved",
                       "B1 : Glider / sailplane",
                       "B2 : Lighter-than-air",
                       "B3 : Parachutist / skydiver",
                       "B4 : Ultralight / hang-glider / paraglider",
                       "B5 : Reserved",
                       "B6 : Unmanned aerial vehicle",
                       "B7 : Space / trans-atmospheric vehicle",
                       "C0 : Reserved",
                       QString::fromUtf8("C1 : Surface vehicle \xE2\x80\x93 emergency vehicle"),
                       QString::fromUtf8("C2 : Surface vehicle \xE2\x80\x93 service vehicle"),
                       "C3 : Point obstacle (includes tethered balloons)",
                       "C4 : Cluster obstacle",
                       "C5 : Line obstacle"};
}

void FormValuesTest::comboItems() {
    QFETCH(QString, name);
    QFETCH(QStringList, items);

    auto* combo = form->find<QComboBox>(name);
    QVERIFY(combo != nullptr);
    QVERIFY(!combo->isEditable());
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) {
        texts << combo->itemText(i);
        QVERIFY(!combo->itemData(i).isValid());
    }
    QCOMPARE(texts, items);
    QCOMPARE(combo->currentIndex(), items.isEmpty() ? -1 : 0);
    const QComboBox::SizeAdjustPolicy policy = name == "comboBox_reg_prefix"
                                                   ? QComboBox::AdjustToContents
                                                   : QComboBox::AdjustToContentsOnFirstShow;
    QCOMPARE(combo->sizeAdjustPolicy(), policy);
}

void FormValuesTest::plainTextEdit_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("registration") << "text_registration_num";
    QTest::newRow("icao") << "text_icao";
}

void FormValuesTest::plainTextEdit() {
    QFETCH(QString, name);

    auto* edit = form->find<QPlainTextEdit>(name);
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->toPlainText(), QString());
    QCOMPARE(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(edit->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(edit->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QVERIFY(edit->isEnabled());
    QVERIFY(!edit->isReadOnly());
}

// No mask or length limit: whatever is typed stays as typed.
void FormValuesTest::plainTextEditAcceptsAnyText() {
    const QString typed = "zz-12 345678 9ABCDEFG #*";
    for (QPlainTextEdit* edit : {form->ui.text_registration_num, form->ui.text_icao}) {
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->toPlainText(), typed);
    }
}

void FormValuesTest::fileEdit_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("firmware") << "text_firmware_file";
    QTest::newRow("airport database") << "text_firmware_file_2";
}

void FormValuesTest::fileEdit() {
    QFETCH(QString, name);

    auto* edit = form->find<QTextEdit>(name);
    QVERIFY(edit != nullptr);
    QVERIFY(!edit->isEnabled());
    QCOMPARE(edit->placeholderText(), QString("*,bin"));
    QCOMPARE(edit->toPlainText(), QString());
    QCOMPARE(edit->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(edit->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(edit->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

void FormValuesTest::enabledState_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("browse") << "pushButton_browse" << true;
    QTest::newRow("start update") << "pushButton_start_update" << false;
    QTest::newRow("reboot") << "pushButton_reboot" << true;
    QTest::newRow("browse airports") << "pushButton_browse_airports" << true;
    QTest::newRow("start airport") << "pushButton_start_airport" << false;
    QTest::newRow("zero calibration") << "pushButton_start_Pt_zerocal" << true;
    QTest::newRow("load") << "pushButton_load" << true;
    QTest::newRow("update") << "pushButton_update" << true;
    QTest::newRow("save") << "pushButton_save" << true;
}

void FormValuesTest::enabledState() {
    QFETCH(QString, name);
    QFETCH(bool, enabled);

    QWidget* widget = form->find<QWidget>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->isEnabled(), enabled);
}

void FormValuesTest::progressBar_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("firmware") << "progressBar_firmware";
    QTest::newRow("airports") << "progressBar_airports";
    QTest::newRow("zero point") << "progressBar_Pt_zeropoint";
}

void FormValuesTest::progressBar() {
    QFETCH(QString, name);

    auto* bar = form->find<QProgressBar>(name);
    QVERIFY(bar != nullptr);
    QVERIFY(!bar->isEnabled());
    QCOMPARE(bar->value(), 0);
}

void FormValuesTest::frameStyle_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("frame") << "frame";
    QTest::newRow("frame_2") << "frame_2";
    QTest::newRow("frame_3") << "frame_3";
}

void FormValuesTest::frameStyle() {
    QFETCH(QString, name);

    auto* frame = form->find<QFrame>(name);
    QVERIFY(frame != nullptr);
    QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(frame->frameShadow(), QFrame::Raised);
}

void FormValuesTest::sizePolicyAndDirection() {
    const QSizePolicy fixed = form->ui.min_volt_alert_value->sizePolicy();
    QCOMPARE(fixed.horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(fixed.verticalPolicy(), QSizePolicy::Fixed);
    for (QDoubleSpinBox* spin : {form->ui.min_volt_warn_value, form->ui.max_volt_warn_value,
                                 form->ui.max_volt_alert_value}) {
        QCOMPARE(spin->sizePolicy(), QDoubleSpinBox().sizePolicy());
    }

    QVERIFY(form->ui.spinBox_vlo->testAttribute(Qt::WA_SetLayoutDirection));
    QCOMPARE(form->ui.spinBox_vlo->layoutDirection(), Qt::LeftToRight);
    QVERIFY(!form->ui.spinBox_vref->testAttribute(Qt::WA_SetLayoutDirection));
}

EFIS_QTEST(FormValuesTest);
#include "form_values_test.moc"
