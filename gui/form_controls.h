// Which control of the settings form shows which setting, and the values those controls
// offer, taken from the settings' own description (settings/setting_names.h).
#pragma once

#include <array>

#include "EFIS_shared/settings_types.h"

namespace Ui {
class MainWindow;
}
class QComboBox;
class QPushButton;
class QWidget;

// A spin box, decimal spin box or slider showing a number setting's element.
struct NumberControl {
    QWidget* control;
    settings_struct_index index;
};
std::array<NumberControl, 16> numberControls(const Ui::MainWindow* ui);

// The colour buttons, in element order.
struct ColourControl {
    QPushButton* button;
    settings_struct_index index;
};
std::array<ColourControl, 10> colourControls(const Ui::MainWindow* ui);

// The lists of the Choice settings shown in a list (the address type has two radio buttons).
struct ChoiceControl {
    QComboBox* box;
    settings_struct_index index;
};
std::array<ChoiceControl, 3> choiceControls(const Ui::MainWindow* ui);

// The four unit lists, in the order of unit_groups().
std::array<QComboBox*, 4> unitControls(const Ui::MainWindow* ui);

// Gives every number control the range, decimals and step of its setting. Call once, right
// after setupUi.
void applySettingRanges(Ui::MainWindow* ui);

double numberControlValue(const QWidget* control);
void setNumberControlValue(QWidget* control, double value);
