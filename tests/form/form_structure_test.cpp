#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QGridLayout>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

#include "form_fixture.h"
#include "tests/qtest_registry.h"

// Which widgets the form holds, how its layouts arrange them, and in which order they are created
// (the order decides the keyboard focus order, since the form sets no explicit tab order).
class FormStructureTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FormFixture> form;

private slots:
    void init() { form = std::make_unique<FormFixture>(); }
    void cleanup() { form.reset(); }

    void member_data();
    void member();
    void arrangement_data();
    void arrangement();
    void containerLayout_data();
    void containerLayout();
    void gridPosition_data();
    void gridPosition();
    void boxPosition_data();
    void boxPosition();
    void creationOrder_data();
    void creationOrder();
    void focusOrder_data();
    void focusOrder();
    void windowFrame();
    void tabs();
    void buttonGroup();
};

void FormStructureTest::member_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");

    auto row = [](const char* name, const char* cls, const char* parent) {
        QTest::newRow(name) << QString(name) << QString(cls) << QString(parent);
    };
    row("centralwidget", "QWidget", "MainWindow");
    row("central_layout", "QVBoxLayout", "centralwidget");
    row("tabWidget", "QTabWidget", "centralwidget");
    row("tab_settings", "QWidget", "qt_tabwidget_stackedwidget");
    row("tab_update", "QWidget", "qt_tabwidget_stackedwidget");
    row("tab_airportDB", "QWidget", "qt_tabwidget_stackedwidget");
    row("tab_cal", "QWidget", "qt_tabwidget_stackedwidget");
    row("menubar", "QMenuBar", "MainWindow");
    row("statusbar", "QStatusBar", "MainWindow");
    row("buttonGroup", "QButtonGroup", "MainWindow");

    // The tab's grid holds the groups; the groups made of loose controls have a layout each.
    row("settings_layout", "QGridLayout", "tab_settings");
    for (const char* n : {"registration_layout", "brightness_layout", "text_bg_alpha_layout",
                          "emitter_cat_layout"}) {
        row(n, "QGridLayout", "settings_layout");
    }
    for (const char* n :
         {"icao_num_layout", "icao_anon_layout", "map_view_layout", "term_res_layout"}) {
        row(n, "QVBoxLayout", "settings_layout");
    }

    row("comboBox_reg_prefix", "QComboBox", "tab_settings");
    row("text_registration_num", "QPlainTextEdit", "tab_settings");

    row("layoutWidget1", "QWidget", "tab_settings");
    row("verticalLayout", "QVBoxLayout", "layoutWidget1");
    for (const char* n : {"label_airspeed_units", "label_altitude_units", "label_pressure_units",
                          "label_temp_units"}) {
        row(n, "QLabel", "layoutWidget1");
    }
    for (const char* n :
         {"comboBox_airspeed", "comboBox_altitude", "comboBox_pressure", "comboBox_temp"}) {
        row(n, "QComboBox", "layoutWidget1");
    }

    row("gridLayoutWidget", "QWidget", "tab_settings");
    row("v_speed_layout", "QGridLayout", "gridLayoutWidget");
    for (const char* n : {"label_vmin", "label_vs0", "label_vs1", "label_vfe", "label_vn0",
                          "label_vne", "label_vref", "label_vlo"}) {
        row(n, "QLabel", "gridLayoutWidget");
    }
    for (const char* n : {"spinBox_vmin", "spinBox_vs0", "spinBox_vs1", "spinBox_vfe",
                          "spinBox_vn0", "spinBox_vne", "spinBox_vref", "spinBox_vlo"}) {
        row(n, "QSpinBox", "gridLayoutWidget");
    }

    row("layoutWidget_3", "QWidget", "tab_settings");
    row("colors_label_layout", "QVBoxLayout", "layoutWidget_3");
    for (const char* n : {"sky_top_label", "sky_bottom_label", "ground_top_label",
                          "ground_bottom_label", "approach_indi_label", "gear_label",
                          "airplane_label", "green_label", "yellow_label", "red_label"}) {
        row(n, "QLabel", "layoutWidget_3");
    }
    row("layoutWidget", "QWidget", "tab_settings");
    row("colors_layout", "QVBoxLayout", "layoutWidget");
    for (const char* n :
         {"color_picker_sky0", "color_picker_sky1", "color_picker_ground0", "color_picker_ground1",
          "color_picker_app_indi", "color_picker_gear", "color_picker_airplane",
          "color_picker_green", "color_picker_yellow", "color_picker_red"}) {
        row(n, "QPushButton", "layoutWidget");
    }

    row("gridLayoutWidget_6", "QWidget", "tab_settings");
    row("volt_layout", "QGridLayout", "gridLayoutWidget_6");
    for (const char* n : {"label_MinVolt_alert", "label_MinVolt_warn", "label_MaxVolt_warn",
                          "label_MaxVolt_alarm"}) {
        row(n, "QLabel", "gridLayoutWidget_6");
    }
    for (const char* n : {"min_volt_alert_value", "min_volt_warn_value", "max_volt_warn_value",
                          "max_volt_alert_value"}) {
        row(n, "QDoubleSpinBox", "gridLayoutWidget_6");
    }

    row("gridLayoutWidget_7", "QWidget", "tab_settings");
    row("ang_corr_layout", "QGridLayout", "gridLayoutWidget_7");
    row("label_roll_corr", "QLabel", "gridLayoutWidget_7");
    row("label_pitch_corr", "QLabel", "gridLayoutWidget_7");
    row("roll_corr_spinbox", "QDoubleSpinBox", "gridLayoutWidget_7");
    row("pitch_corr_spinbox", "QDoubleSpinBox", "gridLayoutWidget_7");

    row("label_brightness", "QLabel", "tab_settings");
    row("backlight_slider", "QSlider", "tab_settings");
    row("label_text_bg_alpha", "QLabel", "tab_settings");
    row("text_bg_alpha_slider", "QSlider", "tab_settings");
    row("label_backlight_value", "QLabel", "tab_settings");
    row("label_text_bg_alpha_value", "QLabel", "tab_settings");

    row("label_emitter_cat", "QLabel", "tab_settings");
    row("comboBox_emitter_cat", "QComboBox", "tab_settings");
    row("label_icao_anon", "QLabel", "tab_settings");
    row("radioButton_use_icao", "QRadioButton", "tab_settings");
    row("radioButton_rand_icao", "QRadioButton", "tab_settings");
    row("label_icao_num", "QLabel", "tab_settings");
    row("text_icao", "QPlainTextEdit", "tab_settings");
    row("label_map_view", "QLabel", "tab_settings");
    row("comboBox_map_view", "QComboBox", "tab_settings");
    row("label_map_view_2", "QLabel", "tab_settings");
    row("comboBox_term_res", "QComboBox", "tab_settings");

    row("layoutWidget_2", "QWidget", "tab_settings");
    row("btn_layout", "QHBoxLayout", "layoutWidget_2");
    row("pushButton_load", "QPushButton", "layoutWidget_2");
    row("pushButton_update", "QPushButton", "layoutWidget_2");
    row("pushButton_save", "QPushButton", "layoutWidget_2");

    row("update_tab_layout", "QGridLayout", "tab_update");
    row("airport_tab_layout", "QGridLayout", "tab_airportDB");
    row("cal_tab_layout", "QGridLayout", "tab_cal");
    row("firmware_frame_layout", "QVBoxLayout", "frame");
    row("airport_frame_layout", "QVBoxLayout", "frame_2");
    row("cal_frame_layout", "QVBoxLayout", "frame_3");

    row("frame", "QFrame", "tab_update");
    row("pushButton_browse", "QPushButton", "frame");
    row("text_firmware_file", "QTextEdit", "frame");
    row("pushButton_start_update", "QPushButton", "frame");
    row("progressBar_firmware", "QProgressBar", "frame");
    row("pushButton_reboot", "QPushButton", "frame");

    row("frame_2", "QFrame", "tab_airportDB");
    row("pushButton_browse_airports", "QPushButton", "frame_2");
    row("text_firmware_file_2", "QTextEdit", "frame_2");
    row("pushButton_start_airport", "QPushButton", "frame_2");
    row("progressBar_airports", "QProgressBar", "frame_2");

    row("frame_3", "QFrame", "tab_cal");
    row("label_emitter_cat_2", "QLabel", "frame_3");
    row("pushButton_start_Pt_zerocal", "QPushButton", "frame_3");
    row("progressBar_Pt_zeropoint", "QProgressBar", "frame_3");
}

void FormStructureTest::member() {
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parent);

    const QList<QObject*> found = form->window->findChildren<QObject*>(name);
    QCOMPARE(found.size(), 1);
    QObject* object = found.first();
    QCOMPARE(QString(object->metaObject()->className()), className);
    QVERIFY(object->parent() != nullptr);
    QCOMPARE(object->parent()->objectName(), parent);
}

namespace {

// A widget's rectangle in its window's coordinates.
QRect placed(const QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

// Rows of one relation between neighbours of a chain: each one left of (or above) the next.
void chainRows(int tab, const char* relation, const QStringList& chain) {
    for (int i = 0; i + 1 < chain.size(); ++i) {
        QTest::addRow("%s %s %s", qPrintable(chain[i]), relation, qPrintable(chain[i + 1]))
            << tab << chain[i] << QString(relation) << chain[i + 1];
    }
}

}  // namespace

// Where the groups stand relative to each other once the window has laid them out: the same
// columns in the same order as always, each column's groups top to bottom, the action buttons
// below them all, every colour label on its button's row and each slider's value beside it.
void FormStructureTest::arrangement_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("relation");
    QTest::addColumn<QString>("second");

    chainRows(0, "left of",
              {"layoutWidget1", "gridLayoutWidget", "layoutWidget_3", "layoutWidget",
               "gridLayoutWidget_6", "comboBox_emitter_cat"});
    chainRows(0, "left of", {"comboBox_reg_prefix", "text_registration_num"});
    chainRows(0, "left of", {"backlight_slider", "label_backlight_value", "label_map_view"});
    chainRows(0, "left of",
              {"text_bg_alpha_slider", "label_text_bg_alpha_value", "comboBox_term_res"});
    chainRows(0, "left of", {"gridLayoutWidget_7", "text_icao"});
    chainRows(0, "above", {"comboBox_reg_prefix", "layoutWidget1"});
    chainRows(0, "above", {"text_registration_num", "gridLayoutWidget"});
    chainRows(0, "above",
              {"gridLayoutWidget_6", "gridLayoutWidget_7", "label_brightness", "backlight_slider",
               "label_text_bg_alpha", "text_bg_alpha_slider", "layoutWidget_2"});
    chainRows(
        0, "above",
        {"label_emitter_cat", "comboBox_emitter_cat", "label_icao_anon", "radioButton_use_icao",
         "radioButton_rand_icao", "label_icao_num", "text_icao", "label_map_view",
         "comboBox_map_view", "label_map_view_2", "comboBox_term_res", "layoutWidget_2"});
    for (const char* column :
         {"layoutWidget1", "gridLayoutWidget", "layoutWidget_3", "layoutWidget"}) {
        chainRows(0, "above", {column, "layoutWidget_2"});
    }
    chainRows(0, "on the row of", {"label_backlight_value", "backlight_slider"});
    chainRows(0, "on the row of", {"label_text_bg_alpha_value", "text_bg_alpha_slider"});
    const char* colours[][2] = {{"sky_top_label", "color_picker_sky0"},
                                {"sky_bottom_label", "color_picker_sky1"},
                                {"ground_top_label", "color_picker_ground0"},
                                {"ground_bottom_label", "color_picker_ground1"},
                                {"approach_indi_label", "color_picker_app_indi"},
                                {"gear_label", "color_picker_gear"},
                                {"airplane_label", "color_picker_airplane"},
                                {"green_label", "color_picker_green"},
                                {"yellow_label", "color_picker_yellow"},
                                {"red_label", "color_picker_red"}};
    for (const auto& row : colours) {
        chainRows(0, "on the row of", {row[0], row[1]});
    }
    chainRows(1, "above",
              {"pushButton_browse", "text_firmware_file", "pushButton_start_update",
               "progressBar_firmware", "pushButton_reboot"});
    chainRows(2, "above",
              {"pushButton_browse_airports", "text_firmware_file_2", "pushButton_start_airport",
               "progressBar_airports"});
    chainRows(3, "above",
              {"label_emitter_cat_2", "pushButton_start_Pt_zerocal", "progressBar_Pt_zeropoint"});
}

void FormStructureTest::arrangement() {
    QFETCH(int, tab);
    QFETCH(QString, first);
    QFETCH(QString, relation);
    QFETCH(QString, second);

    form->ui.tabWidget->setCurrentIndex(tab);
    form->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(form->window.get()));
    QApplication::processEvents();
    QWidget* a = form->find<QWidget>(first);
    QWidget* b = form->find<QWidget>(second);
    QVERIFY(a != nullptr);
    QVERIFY(b != nullptr);
    QVERIFY(a->isVisible());
    QVERIFY(b->isVisible());
    const QRect ra = placed(a);
    const QRect rb = placed(b);
    const QString numbers = QString("%1 at %2,%3 %4x%5; %6 at %7,%8 %9x%10")
                                .arg(first)
                                .arg(ra.x())
                                .arg(ra.y())
                                .arg(ra.width())
                                .arg(ra.height())
                                .arg(second)
                                .arg(rb.x())
                                .arg(rb.y())
                                .arg(rb.width())
                                .arg(rb.height());
    if (relation == "left of") {
        QVERIFY2(ra.right() < rb.left(), qPrintable(numbers));
    } else if (relation == "above") {
        QVERIFY2(ra.bottom() < rb.top(), qPrintable(numbers));
    } else {
        QCOMPARE(relation, QString("on the row of"));
        QVERIFY2(ra.center().y() >= rb.top() && ra.center().y() <= rb.bottom(),
                 qPrintable(numbers));
    }
}

void FormStructureTest::containerLayout_data() {
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("items");

    QTest::newRow("units") << "layoutWidget1"
                           << "verticalLayout" << 8;
    QTest::newRow("v-speeds") << "gridLayoutWidget"
                              << "v_speed_layout" << 16;
    QTest::newRow("colour labels") << "layoutWidget_3"
                                   << "colors_label_layout" << 10;
    QTest::newRow("colour buttons") << "layoutWidget"
                                    << "colors_layout" << 10;
    QTest::newRow("voltages") << "gridLayoutWidget_6"
                              << "volt_layout" << 8;
    QTest::newRow("attitude") << "gridLayoutWidget_7"
                              << "ang_corr_layout" << 4;
    QTest::newRow("buttons") << "layoutWidget_2"
                             << "btn_layout" << 3;
}

void FormStructureTest::containerLayout() {
    QFETCH(QString, container);
    QFETCH(QString, layout);
    QFETCH(int, items);

    QWidget* widget = form->find<QWidget>(container);
    QVERIFY(widget != nullptr);
    QVERIFY(widget->layout() != nullptr);
    QCOMPARE(widget->layout()->objectName(), layout);
    QCOMPARE(widget->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(widget->layout()->count(), items);
}

void FormStructureTest::gridPosition_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    auto row = [](const char* layout, const char* widget, int r, int c) {
        QTest::newRow(widget) << QString(layout) << QString(widget) << r << c;
    };
    const char* speeds[][2] = {{"label_vmin", "spinBox_vmin"}, {"label_vs0", "spinBox_vs0"},
                               {"label_vs1", "spinBox_vs1"},   {"label_vfe", "spinBox_vfe"},
                               {"label_vn0", "spinBox_vn0"},   {"label_vne", "spinBox_vne"},
                               {"label_vref", "spinBox_vref"}, {"label_vlo", "spinBox_vlo"}};
    for (int r = 0; r < 8; ++r) {
        row("v_speed_layout", speeds[r][0], r, 0);
        row("v_speed_layout", speeds[r][1], r, 1);
    }
    const char* volts[][2] = {{"label_MinVolt_alert", "min_volt_alert_value"},
                              {"label_MinVolt_warn", "min_volt_warn_value"},
                              {"label_MaxVolt_warn", "max_volt_warn_value"},
                              {"label_MaxVolt_alarm", "max_volt_alert_value"}};
    for (int r = 0; r < 4; ++r) {
        row("volt_layout", volts[r][0], r, 0);
        row("volt_layout", volts[r][1], r, 1);
    }
    row("ang_corr_layout", "label_roll_corr", 0, 0);
    row("ang_corr_layout", "roll_corr_spinbox", 0, 1);
    row("ang_corr_layout", "label_pitch_corr", 1, 0);
    row("ang_corr_layout", "pitch_corr_spinbox", 1, 1);
}

void FormStructureTest::gridPosition() {
    QFETCH(QString, layout);
    QFETCH(QString, widget);
    QFETCH(int, row);
    QFETCH(int, column);

    auto* grid = form->find<QGridLayout>(layout);
    QWidget* control = form->find<QWidget>(widget);
    QVERIFY(grid != nullptr);
    QVERIFY(control != nullptr);
    const int index = grid->indexOf(control);
    QVERIFY(index >= 0);
    int r = -1;
    int c = -1;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(index, &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rowSpan, 1);
    QCOMPARE(columnSpan, 1);
}

void FormStructureTest::boxPosition_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("widgets");

    QTest::newRow("units") << "verticalLayout"
                           << QStringList{"label_airspeed_units", "comboBox_airspeed",
                                          "label_altitude_units", "comboBox_altitude",
                                          "label_pressure_units", "comboBox_pressure",
                                          "label_temp_units",     "comboBox_temp"};
    QTest::newRow("colour labels")
        << "colors_label_layout"
        << QStringList{
               "sky_top_label",       "sky_bottom_label", "ground_top_label", "ground_bottom_label",
               "approach_indi_label", "gear_label",       "airplane_label",   "green_label",
               "yellow_label",        "red_label"};
    QTest::newRow("colour buttons")
        << "colors_layout"
        << QStringList{"color_picker_sky0",     "color_picker_sky1",     "color_picker_ground0",
                       "color_picker_ground1",  "color_picker_app_indi", "color_picker_gear",
                       "color_picker_airplane", "color_picker_green",    "color_picker_yellow",
                       "color_picker_red"};
    QTest::newRow("buttons") << "btn_layout"
                             << QStringList{"pushButton_load", "pushButton_update",
                                            "pushButton_save"};
}

void FormStructureTest::boxPosition() {
    QFETCH(QString, layout);
    QFETCH(QStringList, widgets);

    auto* box = form->find<QBoxLayout>(layout);
    QVERIFY(box != nullptr);
    for (int i = 0; i < widgets.size(); ++i) {
        QWidget* control = form->find<QWidget>(widgets[i]);
        QVERIFY2(control != nullptr, qPrintable(widgets[i]));
        QCOMPARE(box->indexOf(control), i);
    }
}

// The children of a container are listed in the order they were created.
void FormStructureTest::creationOrder_data() {
    QTest::addColumn<QString>("container");
    QTest::addColumn<QStringList>("children");

    QTest::newRow("tab_settings") << "tab_settings"
                                  << QStringList{"settings_layout",
                                                 "gridLayoutWidget_6",
                                                 "gridLayoutWidget",
                                                 "layoutWidget_2",
                                                 "text_registration_num",
                                                 "comboBox_reg_prefix",
                                                 "backlight_slider",
                                                 "label_backlight_value",
                                                 "label_brightness",
                                                 "layoutWidget",
                                                 "layoutWidget_3",
                                                 "gridLayoutWidget_7",
                                                 "text_bg_alpha_slider",
                                                 "label_text_bg_alpha_value",
                                                 "label_text_bg_alpha",
                                                 "comboBox_emitter_cat",
                                                 "label_emitter_cat",
                                                 "label_icao_num",
                                                 "text_icao",
                                                 "label_icao_anon",
                                                 "radioButton_use_icao",
                                                 "radioButton_rand_icao",
                                                 "label_map_view",
                                                 "comboBox_map_view",
                                                 "layoutWidget1",
                                                 "label_map_view_2",
                                                 "comboBox_term_res"};
    QTest::newRow("gridLayoutWidget_6")
        << "gridLayoutWidget_6"
        << QStringList{"volt_layout",         "label_MaxVolt_alarm",  "min_volt_warn_value",
                       "max_volt_warn_value", "max_volt_alert_value", "label_MaxVolt_warn",
                       "label_MinVolt_warn",  "label_MinVolt_alert",  "min_volt_alert_value"};
    QTest::newRow("gridLayoutWidget")
        << "gridLayoutWidget"
        << QStringList{"v_speed_layout", "label_vs0", "label_vn0",   "label_vmin",  "spinBox_vmin",
                       "spinBox_vref",   "label_vne", "spinBox_vne", "label_vfe",   "spinBox_vs1",
                       "spinBox_vlo",    "label_vlo", "spinBox_vn0", "spinBox_vs0", "label_vref",
                       "spinBox_vfe",    "label_vs1"};
    QTest::newRow("layoutWidget_2")
        << "layoutWidget_2"
        << QStringList{"btn_layout", "pushButton_load", "pushButton_update", "pushButton_save"};
    QTest::newRow("gridLayoutWidget_7")
        << "gridLayoutWidget_7"
        << QStringList{"ang_corr_layout", "label_pitch_corr", "label_roll_corr",
                       "pitch_corr_spinbox", "roll_corr_spinbox"};
    QTest::newRow("layoutWidget1")
        << "layoutWidget1"
        << QStringList{"verticalLayout",       "label_airspeed_units", "comboBox_airspeed",
                       "label_altitude_units", "comboBox_altitude",    "label_pressure_units",
                       "comboBox_pressure",    "label_temp_units",     "comboBox_temp"};
    QTest::newRow("frame") << "frame"
                           << QStringList{"firmware_frame_layout", "pushButton_browse",
                                          "text_firmware_file",    "pushButton_start_update",
                                          "progressBar_firmware",  "pushButton_reboot"};
    QTest::newRow("frame_2") << "frame_2"
                             << QStringList{"airport_frame_layout", "pushButton_browse_airports",
                                            "text_firmware_file_2", "pushButton_start_airport",
                                            "progressBar_airports"};
    QTest::newRow("frame_3") << "frame_3"
                             << QStringList{"cal_frame_layout", "label_emitter_cat_2",
                                            "pushButton_start_Pt_zerocal",
                                            "progressBar_Pt_zeropoint"};
}

void FormStructureTest::creationOrder() {
    QFETCH(QString, container);
    QFETCH(QStringList, children);

    QObject* parent = form->object(container);
    QVERIFY(parent != nullptr);
    QStringList names;
    for (QObject* child : parent->children()) {
        names << child->objectName();
    }
    QCOMPARE(names, children);
}

// Relative order of controls in the window's focus chain, walked from the window round to it.
void FormStructureTest::focusOrder_data() {
    QTest::addColumn<QStringList>("order");

    QTest::newRow("v-speeds") << QStringList{"spinBox_vmin", "spinBox_vref", "spinBox_vne",
                                             "spinBox_vs1",  "spinBox_vlo",  "spinBox_vn0",
                                             "spinBox_vs0",  "spinBox_vfe"};
    QTest::newRow("voltages") << QStringList{"min_volt_warn_value", "max_volt_warn_value",
                                             "max_volt_alert_value", "min_volt_alert_value"};
    QTest::newRow("settings tab") << QStringList{
        "min_volt_alert_value", "spinBox_vfe",           "pushButton_load",
        "pushButton_update",    "pushButton_save",       "text_registration_num",
        "comboBox_reg_prefix",  "backlight_slider",      "color_picker_sky0",
        "color_picker_red",     "pitch_corr_spinbox",    "roll_corr_spinbox",
        "text_bg_alpha_slider", "comboBox_emitter_cat",  "text_icao",
        "radioButton_use_icao", "radioButton_rand_icao", "comboBox_map_view",
        "comboBox_airspeed",    "comboBox_altitude",     "comboBox_pressure",
        "comboBox_temp",        "comboBox_term_res"};
    QTest::newRow("firmware tab") << QStringList{"pushButton_browse", "text_firmware_file",
                                                 "pushButton_start_update", "pushButton_reboot"};
}

void FormStructureTest::focusOrder() {
    QFETCH(QStringList, order);

    QStringList chain;
    QWidget* start = form->window.get();
    for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
        QVERIFY(chain.size() < 10000);
        chain << w->objectName();
    }
    int previous = -1;
    for (const QString& name : order) {
        QCOMPARE(chain.count(name), 1);
        const int at = chain.indexOf(name);
        QVERIFY2(at > previous, qPrintable(name + " is out of focus order"));
        previous = at;
    }
}

void FormStructureTest::windowFrame() {
    QMainWindow* window = form->window.get();
    QCOMPARE(window->objectName(), QString("MainWindow"));
    QCOMPARE(window->windowTitle(), QString("OW_52 EFIS Config"));
    QCOMPARE(window->size(), QSize(1065, 598));
    QCOMPARE(window->centralWidget(), form->ui.centralwidget);
    QCOMPARE(window->menuBar(), form->ui.menubar);
    QCOMPARE(window->statusBar(), form->ui.statusbar);
    QVERIFY(form->ui.menubar->actions().isEmpty());
    QCOMPARE(form->ui.statusbar->currentMessage(), QString());

    // A window that already has a name keeps it.
    QMainWindow named;
    named.setObjectName("named");
    Ui::MainWindow ui;
    ui.setupUi(&named);
    QCOMPARE(named.objectName(), QString("named"));
}

void FormStructureTest::tabs() {
    QTabWidget* tabs = form->ui.tabWidget;
    const QStringList pages{"tab_settings", "tab_update", "tab_airportDB", "tab_cal"};
    const QStringList titles{"Settings", "Firmware Update", "Airport Database", "Calibrations"};
    QCOMPARE(tabs->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(tabs->widget(i)->objectName(), pages[i]);
        QCOMPARE(tabs->tabText(i), titles[i]);
    }
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->currentWidget(), form->ui.tab_settings);
}

void FormStructureTest::buttonGroup() {
    QButtonGroup* group = form->ui.buttonGroup;
    QRadioButton* use = form->ui.radioButton_use_icao;
    QRadioButton* random = form->ui.radioButton_rand_icao;
    QCOMPARE(group->objectName(), QString("buttonGroup"));
    QCOMPARE(group->parent(), form->window.get());
    QVERIFY(group->exclusive());
    QCOMPARE(group->buttons(), (QList<QAbstractButton*>{use, random}));
    // Automatic ids count down from -2.
    QCOMPARE(group->id(use), -2);
    QCOMPARE(group->id(random), -3);
    QVERIFY(use->isChecked());
    QVERIFY(!random->isChecked());
    QCOMPARE(group->checkedButton(), use);

    random->click();
    QVERIFY(random->isChecked());
    QVERIFY(!use->isChecked());
    use->click();
    QVERIFY(use->isChecked());
    QVERIFY(!random->isChecked());
}

EFIS_QTEST(FormStructureTest);
#include "form_structure_test.moc"
