#include "gui/form_controls.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <cmath>

#include "settings/setting_names.h"
#include "ui_mainwindow.h"

std::array<NumberControl, 16> numberControls(const Ui::MainWindow* ui) {
    return {{{ui->spinBox_vmin, VMIN_INDEX},
             {ui->spinBox_vs0, VS0_INDEX},
             {ui->spinBox_vs1, VS1_INDEX},
             {ui->spinBox_vfe, VFE_INDEX},
             {ui->spinBox_vn0, VN0_INDEX},
             {ui->spinBox_vne, VNE_INDEX},
             {ui->spinBox_vref, APPROACHSPEED_INDEX},
             {ui->spinBox_vlo, VLO_INDEX},
             {ui->min_volt_warn_value, MIN_VOLTS_INDEX},
             {ui->max_volt_warn_value, MAX_VOLTS_INDEX},
             {ui->backlight_slider, BACKLIGHT_BRIGHTNESS_INDEX},
             {ui->roll_corr_spinbox, ROLL_CORRECTION_INDEX},
             {ui->pitch_corr_spinbox, PITCH_CORRECTION_INDEX},
             {ui->min_volt_alert_value, MIN_VOLTS_ALERT_INDEX},
             {ui->max_volt_alert_value, MAX_VOLTS_ALERT_INDEX},
             {ui->text_bg_alpha_slider, TEXT_BG_ALPHA_INDEX}}};
}

std::array<ColourControl, 10> colourControls(const Ui::MainWindow* ui) {
    return {{{ui->color_picker_sky0, SKY_COLOR_0_INDEX},
             {ui->color_picker_sky1, SKY_COLOR_1_INDEX},
             {ui->color_picker_ground0, GROUND_COLOR_0_INDEX},
             {ui->color_picker_ground1, GROUND_COLOR_1_INDEX},
             {ui->color_picker_app_indi, APPROACH_COLOR_INDEX},
             {ui->color_picker_airplane, AIRPLANE_COLOR_INDEX},
             {ui->color_picker_green, GREEN_ARC_COLOR_INDEX},
             {ui->color_picker_yellow, YELLOW_ARC_COLOR_INDEX},
             {ui->color_picker_red, RED_ARC_COLOR_INDEX},
             {ui->color_picker_gear, GEAR_INDI_COLOR_INDEX}}};
}

std::array<ChoiceControl, 3> choiceControls(const Ui::MainWindow* ui) {
    return {{{ui->comboBox_emitter_cat, EMITTER_CAT_INDEX},
             {ui->comboBox_term_res, TERM_RESISTOR_INDEX},
             {ui->comboBox_map_view, MAP_DIR_INDEX}}};
}

std::array<QComboBox*, 4> unitControls(const Ui::MainWindow* ui) {
    return {ui->comboBox_airspeed, ui->comboBox_altitude, ui->comboBox_temp, ui->comboBox_pressure};
}

void applySettingRanges(Ui::MainWindow* ui) {
    for (const NumberControl& row : numberControls(ui)) {
        const SettingRange& range = settings_table()[setting_of_element(row.index)].range;
        if (auto* box = qobject_cast<QDoubleSpinBox*>(row.control)) {
            box->setDecimals(range.decimals);
            box->setRange(range.low, range.high);
            box->setSingleStep(range.step);
        } else if (auto* box = qobject_cast<QSpinBox*>(row.control)) {
            box->setRange(static_cast<int>(range.low), static_cast<int>(range.high));
            box->setSingleStep(static_cast<int>(range.step));
        } else if (auto* slider = qobject_cast<QSlider*>(row.control)) {
            slider->setRange(static_cast<int>(range.low), static_cast<int>(range.high));
            slider->setSingleStep(static_cast<int>(range.step));
        }
    }
}

double numberControlValue(const QWidget* control) {
    if (const auto* box = qobject_cast<const QDoubleSpinBox*>(control)) {
        return box->value();
    }
    if (const auto* box = qobject_cast<const QSpinBox*>(control)) {
        return box->value();
    }
    const auto* slider = qobject_cast<const QSlider*>(control);
    return slider != nullptr ? slider->value() : 0.0;
}

void setNumberControlValue(QWidget* control, double value) {
    if (auto* box = qobject_cast<QDoubleSpinBox*>(control)) {
        box->setValue(value);
    } else if (auto* box = qobject_cast<QSpinBox*>(control)) {
        box->setValue(static_cast<int>(std::lround(value)));
    } else if (auto* slider = qobject_cast<QSlider*>(control)) {
        slider->setValue(static_cast<int>(std::lround(value)));
    }
}
