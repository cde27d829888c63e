// The settings tab's marks: which values are edited but not sent, which stored values the
// form cannot show as the unit holds them, and the status bar's count of what is unsaved.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <initializer_list>
#include <vector>

#include "gui/mainwindow.h"
#include "settings/setting_names.h"
#include "settings/word_text.h"
#include "ui_mainwindow.h"

namespace {

// One element (or group of elements) of the record and where the form shows it.
struct MarkRow {
    std::vector<settings_struct_index> indices;
    QLabel* label;  // null where the controls carry no label of their own
    std::vector<QWidget*> controls;
};

std::vector<MarkRow> markRows(const Ui::MainWindow* ui) {
    return {
        {{UNITS_VALUE_INDEX}, ui->label_airspeed_units, {ui->comboBox_airspeed}},
        {{UNITS_VALUE_INDEX}, ui->label_altitude_units, {ui->comboBox_altitude}},
        {{UNITS_VALUE_INDEX}, ui->label_temp_units, {ui->comboBox_temp}},
        {{UNITS_VALUE_INDEX}, ui->label_pressure_units, {ui->comboBox_pressure}},
        {{VMIN_INDEX}, ui->label_vmin, {ui->spinBox_vmin}},
        {{VS0_INDEX}, ui->label_vs0, {ui->spinBox_vs0}},
        {{VS1_INDEX}, ui->label_vs1, {ui->spinBox_vs1}},
        {{VFE_INDEX}, ui->label_vfe, {ui->spinBox_vfe}},
        {{VN0_INDEX}, ui->label_vn0, {ui->spinBox_vn0}},
        {{VNE_INDEX}, ui->label_vne, {ui->spinBox_vne}},
        {{APPROACHSPEED_INDEX}, ui->label_vref, {ui->spinBox_vref}},
        {{VLO_INDEX}, ui->label_vlo, {ui->spinBox_vlo}},
        {{MIN_VOLTS_INDEX}, ui->label_MinVolt_warn, {ui->min_volt_warn_value}},
        {{MAX_VOLTS_INDEX}, ui->label_MaxVolt_warn, {ui->max_volt_warn_value}},
        {{MIN_VOLTS_ALERT_INDEX}, ui->label_MinVolt_alert, {ui->min_volt_alert_value}},
        {{MAX_VOLTS_ALERT_INDEX}, ui->label_MaxVolt_alarm, {ui->max_volt_alert_value}},
        {{REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX},
         nullptr,
         {ui->comboBox_reg_prefix, ui->text_registration_num}},
        {{SKY_COLOR_0_INDEX}, ui->sky_top_label, {ui->color_picker_sky0}},
        {{SKY_COLOR_1_INDEX}, ui->sky_bottom_label, {ui->color_picker_sky1}},
        {{GROUND_COLOR_0_INDEX}, ui->ground_top_label, {ui->color_picker_ground0}},
        {{GROUND_COLOR_1_INDEX}, ui->ground_bottom_label, {ui->color_picker_ground1}},
        {{APPROACH_COLOR_INDEX}, ui->approach_indi_label, {ui->color_picker_app_indi}},
        {{AIRPLANE_COLOR_INDEX}, ui->airplane_label, {ui->color_picker_airplane}},
        {{GREEN_ARC_COLOR_INDEX}, ui->green_label, {ui->color_picker_green}},
        {{YELLOW_ARC_COLOR_INDEX}, ui->yellow_label, {ui->color_picker_yellow}},
        {{RED_ARC_COLOR_INDEX}, ui->red_label, {ui->color_picker_red}},
        {{GEAR_INDI_COLOR_INDEX}, ui->gear_label, {ui->color_picker_gear}},
        {{BACKLIGHT_BRIGHTNESS_INDEX}, ui->label_brightness, {ui->backlight_slider}},
        {{ROLL_CORRECTION_INDEX}, ui->label_roll_corr, {ui->roll_corr_spinbox}},
        {{PITCH_CORRECTION_INDEX}, ui->label_pitch_corr, {ui->pitch_corr_spinbox}},
        {{TEXT_BG_ALPHA_INDEX}, ui->label_text_bg_alpha, {ui->text_bg_alpha_slider}},
        {{OWNSHIP_ICAO_INDEX}, ui->label_icao_num, {ui->text_icao}},
        {{ICAO_ADDR_TYPE_INDEX},
         ui->label_icao_anon,
         {ui->radioButton_use_icao, ui->radioButton_rand_icao}},
        {{EMITTER_CAT_INDEX}, ui->label_emitter_cat, {ui->comboBox_emitter_cat}},
        {{TERM_RESISTOR_INDEX}, ui->label_map_view_2, {ui->comboBox_term_res}},
        {{MAP_DIR_INDEX}, ui->label_map_view, {ui->comboBox_map_view}},
    };
}

bool anyIn(const std::vector<settings_struct_index>& indices, const PendingSet& set) {
    for (const settings_struct_index index : indices) {
        if (set.count(index) != 0) {
            return true;
        }
    }
    return false;
}

// The stored value of a setting in the form's terms, with its raw words where those terms
// cannot tell it (an erased registration reads as an empty one), for the tooltip of a value
// the form cannot show.
QString heldText(const Settings_t& record, settings_struct_index first) {
    for (size_t setting = 0; setting < kSettingCount; ++setting) {
        if (settings_table()[setting].first != first) {
            continue;
        }
        const QString value = human_value(record, setting);
        QStringList raw;
        for (const uint32_t word : setting_words(record, setting)) {
            raw << hex_word(word);
        }
        return value.isEmpty() ? raw.join(QLatin1Char(' '))
                               : QStringLiteral("%1 (%2)").arg(value, raw.join(QLatin1Char(' ')));
    }
    return QString();
}

void setBold(QWidget* widget, bool bold) {
    QFont font = widget->font();
    if (font.bold() != bold) {
        font.setBold(bold);
        widget->setFont(font);
    }
}

// An orange text marks a value shown other than the unit holds it.
void setLossyColour(QWidget* widget, bool lossy) {
    QPalette palette = widget->palette();
    const QColor colour = lossy ? QColor(0xB3, 0x59, 0x00) : QPalette().color(QPalette::WindowText);
    if (palette.color(QPalette::WindowText) != colour || palette.color(QPalette::Text) != colour) {
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
        widget->setPalette(palette);
    }
}

}  // namespace

void MainWindow::refreshMarks() {
    for (const MarkRow& row : markRows(ui)) {
        const bool pending = anyIn(row.indices, changed_values);
        const bool unread = anyIn(row.indices, unitRecord.unknown);
        const bool lossy = unread || anyIn(row.indices, lossyValues);
        QString tip;
        if (unread) {
            tip = QStringLiteral("This value could not be read from the unit; the form shows 0.");
        } else if (lossy) {
            tip = QStringLiteral(
                      "The unit holds %1, which this control cannot show. It stays "
                      "unchanged on the unit unless you edit this control.")
                      .arg(heldText(user_config, row.indices.front()));
        }
        for (QWidget* control : row.controls) {
            control->setToolTip(tip);
            if (row.label == nullptr) {
                setBold(control, pending);
                setLossyColour(control, lossy);
            }
        }
        if (row.label != nullptr) {
            setBold(row.label, pending);
            setLossyColour(row.label, lossy);
        }
    }

    QStringList parts;
    if (!changed_values.empty()) {
        parts << QStringLiteral("%1 edit(s) not sent").arg(pending_setting_count(changed_values));
    }
    if (unitRecord.sent_not_saved) {
        parts << QStringLiteral("sent values not saved on the unit");
    }
    QString text = parts.join(QStringLiteral(" · "));
    if (!text.isEmpty()) {
        text[0] = text.at(0).toUpper();
    }
    pendingLabel->setText(text);
}
