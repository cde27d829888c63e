#include "gui/form_behaviour.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QString>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ui_mainwindow.h"

namespace {

// Lets a wheel turned over an unfocused value control scroll what lies beneath it instead of
// changing the value: the event stays unaccepted, so the application passes it to the parent.
class WheelGuard : public QObject {
public:
    explicit WheelGuard(QObject* owner) : QObject(owner) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel) {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->hasFocus()) {
            return false;
        }
        event->ignore();
        return true;
    }
};

// Both value labels keep the width of the widest value either slider can show, so neither row
// shifts as its value changes and both sliders are equally long.
void fitValueLabels(Ui::MainWindow* ui) {
    const std::pair<QLabel*, const QSlider*> rows[] = {
        {ui->label_backlight_value, ui->backlight_slider},
        {ui->label_text_bg_alpha_value, ui->text_bg_alpha_slider}};
    int widest = 0;
    for (const auto& [label, slider] : rows) {
        const QFontMetrics fm(label->font());
        for (int value : {slider->minimum(), slider->maximum()}) {
            // Measured as the label measures its text, which may round up where the advance
            // rounds down.
            const int width = fm.size(Qt::TextSingleLine, QString::number(value)).width();
            widest = std::max(widest, width + 2 * label->margin());
        }
    }
    for (const auto& row : rows) {
        row.first->setMinimumWidth(widest);
    }
}

// One line of `sample` with the document margins, the frame and, where a long line scrolls
// instead of wrapping, the horizontal scroll bar.
void fitOneLine(QAbstractScrollArea* box, const QTextDocument* document, const QString& sample,
                bool scrolls) {
    const QFontMetrics fm(box->font());
    const int margin = static_cast<int>(std::ceil(document->documentMargin()));
    const int frame = 2 * box->frameWidth();
    // One pixel for the text cursor after the last character.
    const int width = fm.horizontalAdvance(sample) + 1 + 2 * margin + frame;
    int height = fm.lineSpacing() + 2 * margin + frame;
    if (scrolls) {
        height += box->horizontalScrollBar()->sizeHint().height();
    }
    box->setFixedSize(width, height);
}

// The tab widget shows its first page while the form is still being built, so the page's layout
// measures the combo boxes before they get their item texts, and a combo box keeps the minimum
// size hint it measured first. A style change is the one event that makes it measure again.
void remeasureComboBoxes(const QWidget* form) {
    for (QComboBox* combo : form->findChildren<QComboBox*>()) {
        QEvent styleChange(QEvent::StyleChange);
        QCoreApplication::sendEvent(combo, &styleChange);
        combo->updateGeometry();
    }
}

}  // namespace

void showSliderValues(Ui::MainWindow* ui) {
    ui->label_backlight_value->setText(QString::number(ui->backlight_slider->value()));
    ui->label_text_bg_alpha_value->setText(QString::number(ui->text_bg_alpha_slider->value()));
}

void installFormBehaviour(Ui::MainWindow* ui) {
    fitValueLabels(ui);
    const auto setNumber = QOverload<int>::of(&QLabel::setNum);
    QObject::connect(ui->backlight_slider, &QSlider::valueChanged, ui->label_backlight_value,
                     setNumber);
    QObject::connect(ui->text_bg_alpha_slider, &QSlider::valueChanged,
                     ui->label_text_bg_alpha_value, setNumber);
    showSliderValues(ui);

    remeasureComboBoxes(ui->centralwidget);

    auto* guard = new WheelGuard(ui->centralwidget->window());
    for (QWidget* widget : ui->centralwidget->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
            qobject_cast<QComboBox*>(widget) != nullptr ||
            qobject_cast<QSlider*>(widget) != nullptr) {
            widget->setFocusPolicy(Qt::StrongFocus);
            widget->installEventFilter(guard);
        }
    }

    // A registration holds at most ten characters beside its prefix; an ICAO address at most
    // eight hexadecimal digits; a file name scrolls sideways when it is longer than the box.
    fitOneLine(ui->text_registration_num, ui->text_registration_num->document(),
               QString(10, QLatin1Char('M')), false);
    fitOneLine(ui->text_icao, ui->text_icao->document(), QString(8, QLatin1Char('M')), false);
    for (QTextEdit* box : {ui->text_firmware_file, ui->text_firmware_file_2}) {
        fitOneLine(box, box->document(), QString(32, QLatin1Char('x')), true);
    }
}
