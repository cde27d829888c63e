// What the main window's form does beyond what the Designer file can say: slider values shown
// beside the sliders, value controls that a scrolling mouse wheel passes by, and text boxes
// sized from their fonts.
#pragma once

namespace Ui {
class MainWindow;
}

// Connects each slider to its value label and shows the current values; gives every spin box,
// combo box and slider of the form a strong focus policy and a filter that hands wheel events
// on to the parent while the control has no focus; sizes the fixed-size text boxes for their
// fonts. Call once, right after setupUi.
void installFormBehaviour(Ui::MainWindow* ui);

// Shows both sliders' current values in their labels; for fills that block the sliders' signals.
void showSliderValues(Ui::MainWindow* ui);
