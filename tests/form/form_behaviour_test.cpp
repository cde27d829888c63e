#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QWheelEvent>
#include <QtTest>

#include "form_fixture.h"
#include "gui/form_behaviour.h"
#include "tests/qtest_registry.h"

// The slider values beside the sliders and the mouse wheel that passes by unfocused controls.
class FormBehaviourTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FormFixture> form;

private slots:
    void init() {
        form = std::make_unique<FormFixture>();
        installFormBehaviour(&form->ui);
    }
    void cleanup() { form.reset(); }

    void sliderValueShown_data();
    void sliderValueShown();
    void valueLabelsHoldTheWidestValue();
    void valueControlsTakeNoWheelFocus();
    void wheel_data();
    void wheel();
};

void FormBehaviourTest::sliderValueShown_data() {
    QTest::addColumn<QString>("slider");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("initial");

    QTest::newRow("brightness") << "backlight_slider"
                                << "label_backlight_value"
                                << "10";
    QTest::newRow("transparency") << "text_bg_alpha_slider"
                                  << "label_text_bg_alpha_value"
                                  << "150";
}

void FormBehaviourTest::sliderValueShown() {
    QFETCH(QString, slider);
    QFETCH(QString, label);
    QFETCH(QString, initial);

    auto* s = form->find<QSlider>(slider);
    auto* l = form->find<QLabel>(label);
    QVERIFY(s != nullptr);
    QVERIFY(l != nullptr);
    QCOMPARE(l->text(), initial);

    s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(l->text(), QString::number(initial.toInt() + 1));
    s->setValue(0);
    QCOMPARE(l->text(), QString("0"));

    // A fill with the signals blocked shows the new value only when asked to.
    const QSignalBlocker blocker(s);
    s->setValue(s->maximum());
    QCOMPARE(l->text(), QString("0"));
    showSliderValues(&form->ui);
    QCOMPARE(l->text(), QString::number(s->maximum()));
}

// Neither slider moves when its value gets longer, and the longest value fits its label.
void FormBehaviourTest::valueLabelsHoldTheWidestValue() {
    form->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(form->window.get()));
    QSlider* sliders[] = {form->ui.backlight_slider, form->ui.text_bg_alpha_slider};
    QLabel* labels[] = {form->ui.label_backlight_value, form->ui.label_text_bg_alpha_value};
    for (QSlider* s : sliders) {
        s->setValue(s->minimum());
    }
    QApplication::processEvents();
    const QRect shortValues[] = {sliders[0]->geometry(), sliders[1]->geometry()};
    for (QSlider* s : sliders) {
        s->setValue(s->maximum());
    }
    QApplication::processEvents();
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(sliders[i]->geometry(), shortValues[i]);
        const int textWidth = labels[i]->fontMetrics().horizontalAdvance(labels[i]->text());
        QVERIFY2(textWidth <= labels[i]->contentsRect().width(), qPrintable(labels[i]->text()));
    }
    QCOMPARE(sliders[0]->width(), sliders[1]->width());
}

// A wheel turned over the page must not focus a control on its way (and so start changing it).
void FormBehaviourTest::valueControlsTakeNoWheelFocus() {
    int controls = 0;
    for (QWidget* w : form->ui.centralwidget->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QSlider*>(w)) {
            QVERIFY2(w->focusPolicy() == Qt::StrongFocus, qPrintable(w->objectName()));
            ++controls;
        }
    }
    // 14 spin boxes, 8 combo boxes, 2 sliders.
    QCOMPARE(controls, 24);
}

void FormBehaviourTest::wheel_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("focused");

    for (const char* name :
         {"spinBox_vne", "min_volt_warn_value", "comboBox_emitter_cat", "backlight_slider"}) {
        QTest::addRow("%s without focus", name) << QString(name) << false;
        QTest::addRow("%s with focus", name) << QString(name) << true;
    }
}

// Without focus the control keeps its value and leaves the event unaccepted, which makes the
// application hand it on to the parent; with focus the wheel changes the value as usual.
void FormBehaviourTest::wheel() {
    QFETCH(QString, name);
    QFETCH(bool, focused);

    QWidget* control = form->find<QWidget>(name);
    QVERIFY(control != nullptr);
    auto value = [control]() -> QString {
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) {
            return spin->text();
        }
        if (auto* combo = qobject_cast<QComboBox*>(control)) {
            return combo->currentText();
        }
        return QString::number(qobject_cast<QSlider*>(control)->value());
    };
    form->window->show();
    QApplication::setActiveWindow(form->window.get());
    QVERIFY(QTest::qWaitForWindowActive(form->window.get()));
    if (focused) {
        control->setFocus();
        QVERIFY(control->hasFocus());
    } else {
        form->ui.pushButton_load->setFocus();
        QVERIFY(!control->hasFocus());
    }
    // Away from either end, so that a step has room to change the value.
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) {
        spin->stepBy(20);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setCurrentIndex(combo->count() / 2);
    }
    const QString before = value();

    const QPoint at = control->rect().center();
    QWheelEvent event(at, control->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(control, &event);

    QCOMPARE(value() != before, focused);
    QCOMPARE(event.isAccepted(), focused);
}

EFIS_QTEST(FormBehaviourTest);
#include "form_behaviour_test.moc"
