// The settings form and the working record: filling the controls from the record, reading
// them back, and the edit slots. Every conversion between words and what a control shows is
// the settings' own (settings/setting_controls.h).
#include <QColor>
#include <QColorDialog>
#include <QComboBox>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTextCursor>
#include <algorithm>

#include "EFIS_shared/get_set.h"
#include "gui/form_behaviour.h"
#include "gui/form_controls.h"
#include "gui/mainwindow.h"
#include "settings/setting_controls.h"
#include "settings/setting_names.h"
#include "ui_mainwindow.h"

namespace {

QString colourStyleSheet(uint32_t word) {
    return QStringLiteral("background-color: %1;").arg(colour_field(word));
}

// The colour a button's style sheet shows, as an opaque colour word.
bool colourFromStyleSheet(const QString& styleSheet, uint32_t* word) {
    static const QRegularExpression pattern(QStringLiteral("background-color: (#[0-9a-fA-F]{6});"));
    const QRegularExpressionMatch match = pattern.match(styleSheet);
    return match.hasMatch() && colour_field_word(match.captured(1), word);
}

QPushButton* colourButton(const Ui::MainWindow* ui, settings_struct_index index) {
    for (const ColourControl& row : colourControls(ui)) {
        if (row.index == index) {
            return row.button;
        }
    }
    return nullptr;
}

uint32_t heldWord(settings_struct_index index) {
    return settings_get_value(&user_config, index);
}

// Shows the stored registration as a prefix from the list and the rest of it.
void showRegistration(Ui::MainWindow* ui) {
    const QString full = human_value(user_config, setting_of_element(REGISTRATION_1_INDEX));
    if (!full.isEmpty()) {
        qDebug() << "Created string:" << full;
        qDebug() << "Found prefix:" << registration_listed_prefix(full);
    }
    const RegistrationFields fields = registration_fields(full);
    ui->comboBox_reg_prefix->setCurrentIndex(ui->comboBox_reg_prefix->findText(fields.prefix));
    ui->text_registration_num->setPlainText(fields.number);
}

std::array<uint32_t, 3> registrationFromForm(const Ui::MainWindow* ui) {
    return registration_words(ui->comboBox_reg_prefix->currentText(),
                              ui->text_registration_num->toPlainText());
}

// A units word as the unit lists set it: from `only` alone when it is one of them, else from
// all four. The undefined bits keep the value they have, and so do the groups not taken.
uint32_t unitsFromForm(const Ui::MainWindow* ui, uint32_t units, const QObject* only = nullptr) {
    const std::array<QComboBox*, 4> boxes = unitControls(ui);
    for (size_t group = 0; group < boxes.size(); ++group) {
        if (only == nullptr || only == boxes[group]) {
            units = units_with_item(units, group, boxes[group]->currentIndex());
        }
    }
    return units;
}

// Typing or pasting into the one-line text fields: control characters (a tab, a line break)
// never reach the record. Returns true when it had to clean the field, which then reports
// the cleaned text through its own change signal.
bool dropControlCharacters(QPlainTextEdit* field) {
    const QString text = field->toPlainText();
    QString clean;
    clean.reserve(text.size());
    const int typedAt = field->textCursor().position();
    int cursor = typedAt;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.category() == QChar::Other_Control || c == QChar::ParagraphSeparator ||
            c == QChar::LineSeparator) {
            if (i < typedAt) {
                --cursor;
            }
            continue;
        }
        clean.append(c);
    }
    if (clean == text) {
        return false;
    }
    field->setPlainText(clean);
    QTextCursor moved = field->textCursor();
    moved.setPosition(std::clamp(cursor, 0, static_cast<int>(clean.size())));
    field->setTextCursor(moved);
    return true;
}

}  // namespace

void MainWindow::connectFormControls() {
    const auto comboIndex = QOverload<int>::of(&QComboBox::currentIndexChanged);
    const auto spinValue = QOverload<int>::of(&QSpinBox::valueChanged);
    const auto doubleValue = QOverload<double>::of(&QDoubleSpinBox::valueChanged);

    connect(ui->color_picker_sky0, &QPushButton::clicked, this,
            &MainWindow::onSkyColorPickerClicked);
    connect(ui->color_picker_sky1, &QPushButton::clicked, this,
            &MainWindow::onSkyColor1PickerClicked);
    connect(ui->color_picker_ground0, &QPushButton::clicked, this,
            &MainWindow::onGroundColorPickerClicked);
    connect(ui->color_picker_ground1, &QPushButton::clicked, this,
            &MainWindow::onGroundColor1PickerClicked);
    connect(ui->color_picker_app_indi, &QPushButton::clicked, this,
            &MainWindow::onApproachIndiColorPickerClicked);
    connect(ui->color_picker_airplane, &QPushButton::clicked, this,
            &MainWindow::onAirplaneColorPickerClicked);
    connect(ui->color_picker_green, &QPushButton::clicked, this,
            &MainWindow::onGreenArcColorPickerClicked);
    connect(ui->color_picker_yellow, &QPushButton::clicked, this,
            &MainWindow::onYellowArcColorPickerClicked);
    connect(ui->color_picker_red, &QPushButton::clicked, this,
            &MainWindow::onRedArcColorPickerClicked);
    connect(ui->color_picker_gear, &QPushButton::clicked, this,
            &MainWindow::onGearIndiColorPickerClicked);
    for (QComboBox* box : unitControls(ui)) {
        connect(box, comboIndex, this, &MainWindow::onUnitsChanged);
    }
    connect(ui->spinBox_vmin, spinValue, this, &MainWindow::onVminChanged);
    connect(ui->spinBox_vs0, spinValue, this, &MainWindow::onVs0Changed);
    connect(ui->spinBox_vs1, spinValue, this, &MainWindow::onVs1Changed);
    connect(ui->spinBox_vfe, spinValue, this, &MainWindow::onVfeChanged);
    connect(ui->spinBox_vn0, spinValue, this, &MainWindow::onVn0Changed);
    connect(ui->spinBox_vne, spinValue, this, &MainWindow::onVneChanged);
    connect(ui->spinBox_vref, spinValue, this, &MainWindow::onVrefChanged);
    connect(ui->spinBox_vlo, spinValue, this, &MainWindow::onVloChanged);
    connect(ui->min_volt_warn_value, doubleValue, this, &MainWindow::onMinVoltChanged);
    connect(ui->max_volt_warn_value, doubleValue, this, &MainWindow::onMaxVoltChanged);
    connect(ui->min_volt_alert_value, doubleValue, this, &MainWindow::onMinVoltAlertChanged);
    connect(ui->max_volt_alert_value, doubleValue, this, &MainWindow::onMaxVoltAlertChanged);
    connect(ui->comboBox_reg_prefix, &QComboBox::currentTextChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->text_registration_num, &QPlainTextEdit::textChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->text_icao, &QPlainTextEdit::textChanged, this, &MainWindow::onOwnshipIcaoChanged);
    connect(ui->comboBox_emitter_cat, comboIndex, this, &MainWindow::onEmitterCatChanged);
    connect(ui->comboBox_map_view, comboIndex, this, &MainWindow::onMapViewChanged);
    connect(ui->comboBox_term_res, comboIndex, this, &MainWindow::onTermResChanged);
    connect(ui->radioButton_use_icao, &QRadioButton::toggled, this,
            &MainWindow::onIcaoAddressTypeChanged);
    connect(ui->radioButton_rand_icao, &QRadioButton::toggled, this,
            &MainWindow::onIcaoAddressTypeChanged);
    connect(ui->backlight_slider, &QSlider::valueChanged, this,
            &MainWindow::onBacklightBrightnessChanged);
    connect(ui->text_bg_alpha_slider, &QSlider::valueChanged, this,
            &MainWindow::onTextBgAlphaChanged);
    connect(ui->roll_corr_spinbox, doubleValue, this, &MainWindow::onRollCorrectionChanged);
    connect(ui->pitch_corr_spinbox, doubleValue, this, &MainWindow::onPitchCorrectionChanged);
}

void MainWindow::updateUIFromConfig() {
    QObject* const blocked[] = {
        ui->comboBox_airspeed,    ui->comboBox_altitude,     ui->comboBox_temp,
        ui->comboBox_pressure,    ui->spinBox_vmin,          ui->spinBox_vs0,
        ui->spinBox_vs1,          ui->spinBox_vfe,           ui->spinBox_vn0,
        ui->spinBox_vne,          ui->spinBox_vref,          ui->spinBox_vlo,
        ui->min_volt_warn_value,  ui->max_volt_warn_value,   ui->min_volt_alert_value,
        ui->max_volt_alert_value, ui->text_registration_num, ui->comboBox_reg_prefix,
        ui->backlight_slider,     ui->text_bg_alpha_slider,  ui->roll_corr_spinbox,
        ui->pitch_corr_spinbox,   ui->comboBox_emitter_cat,  ui->text_icao,
        ui->radioButton_use_icao, ui->radioButton_rand_icao, ui->comboBox_map_view,
        ui->comboBox_term_res};
    for (QObject* widget : blocked) {
        widget->blockSignals(true);
    }

    for (const ColourControl& row : colourControls(ui)) {
        row.button->setStyleSheet(colourStyleSheet(heldWord(row.index)));
    }
    const std::array<QComboBox*, 4> units = unitControls(ui);
    for (size_t group = 0; group < units.size(); ++group) {
        units[group]->setCurrentIndex(unit_item(group, user_config.units.units_value));
    }
    for (const NumberControl& row : numberControls(ui)) {
        setNumberControlValue(row.control,
                              control_number(setting_of_element(row.index), heldWord(row.index)));
    }
    showRegistration(ui);
    ui->text_icao->setPlainText(icao_field(user_config.ownship_icao));
    for (const ChoiceControl& row : choiceControls(ui)) {
        row.box->setCurrentIndex(choice_item(setting_of_element(row.index), heldWord(row.index)));
    }
    const int addressType =
        choice_item(setting_of_element(ICAO_ADDR_TYPE_INDEX), user_config.icao_address_type);
    // The two radio buttons stand for the address type's two items.
    (addressType == 1 ? ui->radioButton_rand_icao : ui->radioButton_use_icao)->setChecked(true);

    for (QObject* widget : blocked) {
        widget->blockSignals(false);
    }

    showSliderValues(ui);

    lossyValues.clear();
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        uint32_t shown = 0;
        if (formValue(index, &shown) && shown != heldWord(index)) {
            lossyValues.insert(index);
        }
    }
    refreshMarks();
}

bool MainWindow::formValue(settings_struct_index index, uint32_t* value) const {
    const size_t setting = setting_of_element(index);
    for (const ColourControl& row : colourControls(ui)) {
        if (row.index == index) {
            return colourFromStyleSheet(row.button->styleSheet(), value);
        }
    }
    for (const NumberControl& row : numberControls(ui)) {
        if (row.index == index) {
            *value = number_word(setting, numberControlValue(row.control));
            return true;
        }
    }
    for (const ChoiceControl& row : choiceControls(ui)) {
        if (row.index == index) {
            *value = choice_word(setting, row.box->currentIndex());
            return true;
        }
    }
    switch (index) {
    case UNITS_VALUE_INDEX:
        *value = unitsFromForm(ui, user_config.units.units_value);
        return true;
    case REGISTRATION_1_INDEX:
    case REGISTRATION_2_INDEX:
    case REGISTRATION_3_INDEX:
        *value = registrationFromForm(ui)[static_cast<size_t>(index - REGISTRATION_1_INDEX)];
        return true;
    case OWNSHIP_ICAO_INDEX:
        *value = icao_field_word(ui->text_icao->toPlainText());
        return true;
    case ICAO_ADDR_TYPE_INDEX:
        *value = choice_word(setting, ui->radioButton_rand_icao->isChecked() ? 1 : 0);
        return true;
    default:
        return false;
    }
}

void MainWindow::updateConfigValueLocal(settings_struct_index index, uint32_t value) {
    if (!settings_set_value(&user_config, index, &value)) {
        qDebug() << "Error setting value for index" << static_cast<int>(index);
        return;
    }
    changed_values.insert(index);
    // An element stays marked while the form still cannot show what it now holds (another
    // unit group than the one edited, say).
    uint32_t shown = 0;
    if (!formValue(index, &shown) || shown == value) {
        lossyValues.erase(index);
    }
    refreshMarks();
}

void MainWindow::numberEdited(settings_struct_index index, double value) {
    updateConfigValueLocal(index, number_word(setting_of_element(index), value));
}

void MainWindow::choiceEdited(settings_struct_index index, int item) {
    updateConfigValueLocal(index, choice_word(setting_of_element(index), item));
}

// An edited control stores the words of what it shows.
void MainWindow::controlEdited(settings_struct_index index) {
    uint32_t word = 0;
    if (formValue(index, &word)) {
        updateConfigValueLocal(index, word);
    }
}

void MainWindow::pickColour(settings_struct_index index, const QColor& custom,
                            const QString& title) {
    QColorDialog::setCustomColor(1, custom);
    const QColor chosen =
        QColorDialog::getColor(QColor(colour_field(heldWord(index))), this, title);
    if (!chosen.isValid()) {
        return;
    }
    colourButton(ui, index)->setStyleSheet(colourStyleSheet(chosen.rgb()));
    controlEdited(index);
}

void MainWindow::onUnitsChanged() {
    // Only the group the user changed: a group the form cannot show as the unit holds it
    // (no speed unit set, say) stays as it is.
    updateConfigValueLocal(UNITS_VALUE_INDEX,
                           unitsFromForm(ui, user_config.units.units_value, sender()));
}

void MainWindow::onVminChanged(int value) {
    numberEdited(VMIN_INDEX, value);
}

void MainWindow::onVs0Changed(int value) {
    numberEdited(VS0_INDEX, value);
}

void MainWindow::onVs1Changed(int value) {
    numberEdited(VS1_INDEX, value);
}

void MainWindow::onVfeChanged(int value) {
    numberEdited(VFE_INDEX, value);
}

void MainWindow::onVn0Changed(int value) {
    numberEdited(VN0_INDEX, value);
}

void MainWindow::onVneChanged(int value) {
    numberEdited(VNE_INDEX, value);
}

void MainWindow::onVrefChanged(int value) {
    numberEdited(APPROACHSPEED_INDEX, value);
}

void MainWindow::onVloChanged(int value) {
    numberEdited(VLO_INDEX, value);
}

void MainWindow::onMinVoltChanged(double value) {
    numberEdited(MIN_VOLTS_INDEX, value);
}

void MainWindow::onMaxVoltChanged(double value) {
    numberEdited(MAX_VOLTS_INDEX, value);
}

void MainWindow::onMinVoltAlertChanged(double value) {
    numberEdited(MIN_VOLTS_ALERT_INDEX, value);
}

void MainWindow::onMaxVoltAlertChanged(double value) {
    numberEdited(MAX_VOLTS_ALERT_INDEX, value);
}

void MainWindow::onRegistrationChanged() {
    if (dropControlCharacters(ui->text_registration_num)) {
        return;
    }
    const std::array<uint32_t, 3> reg = registrationFromForm(ui);
    updateConfigValueLocal(REGISTRATION_1_INDEX, reg[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, reg[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, reg[2]);
}

void MainWindow::onSkyColor0Changed() {
    controlEdited(SKY_COLOR_0_INDEX);
}

void MainWindow::onSkyColor1Changed() {
    controlEdited(SKY_COLOR_1_INDEX);
}

void MainWindow::onGroundColor0Changed() {
    controlEdited(GROUND_COLOR_0_INDEX);
}

void MainWindow::onGroundColor1Changed() {
    controlEdited(GROUND_COLOR_1_INDEX);
}

void MainWindow::onApproachIndiColorChanged() {
    controlEdited(APPROACH_COLOR_INDEX);
}

void MainWindow::onAirplaneColorChanged() {
    controlEdited(AIRPLANE_COLOR_INDEX);
}

void MainWindow::onGreenArcColorChanged() {
    controlEdited(GREEN_ARC_COLOR_INDEX);
}

void MainWindow::onYellowArcColorChanged() {
    controlEdited(YELLOW_ARC_COLOR_INDEX);
}

void MainWindow::onRedArcColorChanged() {
    controlEdited(RED_ARC_COLOR_INDEX);
}

void MainWindow::onGearIndiColorChanged() {
    controlEdited(GEAR_INDI_COLOR_INDEX);
}

void MainWindow::onSkyColorPickerClicked() {
    pickColour(SKY_COLOR_0_INDEX, QColor(135, 206, 235), QStringLiteral("Select Sky Color 0"));
}

void MainWindow::onSkyColor1PickerClicked() {
    pickColour(SKY_COLOR_1_INDEX, QColor(135, 206, 235), QStringLiteral("Select Sky Color 1"));
}

void MainWindow::onGroundColorPickerClicked() {
    pickColour(GROUND_COLOR_0_INDEX, QColor(34, 139, 34), QStringLiteral("Select Ground Color 0"));
}

void MainWindow::onGroundColor1PickerClicked() {
    pickColour(GROUND_COLOR_1_INDEX, QColor(34, 139, 34), QStringLiteral("Select Ground Color 1"));
}

void MainWindow::onApproachIndiColorPickerClicked() {
    pickColour(APPROACH_COLOR_INDEX, QColor(255, 255, 0),
               QStringLiteral("Select Approach Indicator Color"));
}

void MainWindow::onAirplaneColorPickerClicked() {
    pickColour(AIRPLANE_COLOR_INDEX, QColor(255, 255, 255),
               QStringLiteral("Select Airplane Color"));
}

void MainWindow::onGreenArcColorPickerClicked() {
    pickColour(GREEN_ARC_COLOR_INDEX, QColor(0, 255, 0), QStringLiteral("Select Green Arc Color"));
}

void MainWindow::onYellowArcColorPickerClicked() {
    pickColour(YELLOW_ARC_COLOR_INDEX, QColor(255, 255, 0),
               QStringLiteral("Select Yellow Arc Color"));
}

void MainWindow::onRedArcColorPickerClicked() {
    pickColour(RED_ARC_COLOR_INDEX, QColor(255, 0, 0), QStringLiteral("Select Red Arc Color"));
}

void MainWindow::onGearIndiColorPickerClicked() {
    pickColour(GEAR_INDI_COLOR_INDEX, QColor(255, 255, 255),
               QStringLiteral("Select Gear Indicator Color"));
}

void MainWindow::onBacklightBrightnessChanged(int value) {
    numberEdited(BACKLIGHT_BRIGHTNESS_INDEX, value);
}

void MainWindow::onTextBgAlphaChanged(int value) {
    numberEdited(TEXT_BG_ALPHA_INDEX, value);
}

void MainWindow::onRollCorrectionChanged(double value) {
    numberEdited(ROLL_CORRECTION_INDEX, value);
}

void MainWindow::onPitchCorrectionChanged(double value) {
    numberEdited(PITCH_CORRECTION_INDEX, value);
}

void MainWindow::onOwnshipIcaoChanged() {
    if (dropControlCharacters(ui->text_icao)) {
        return;
    }
    controlEdited(OWNSHIP_ICAO_INDEX);
}

void MainWindow::onEmitterCatChanged(int value) {
    choiceEdited(EMITTER_CAT_INDEX, value);
}

void MainWindow::onMapViewChanged(int value) {
    choiceEdited(MAP_DIR_INDEX, value);
}

void MainWindow::onTermResChanged(int value) {
    choiceEdited(TERM_RESISTOR_INDEX, value);
}

void MainWindow::onIcaoAddressTypeChanged() {
    controlEdited(ICAO_ADDR_TYPE_INDEX);
}
