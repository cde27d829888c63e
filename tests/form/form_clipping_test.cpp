#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTextEdit>
#include <QWindow>
#include <QtTest>
#include <cmath>

#include "form_fixture.h"
#include "gui/form_behaviour.h"
#include "settings/registration_prefix.h"
#include "tests/qtest_registry.h"

// Every text of every tab fits its widget, at the Qt scale factor and application font size the
// test runs with (QT_SCALE_FACTOR and EFIS_FORM_FONT_PT; CTest runs each pair as its own test,
// since the scale factor must be in place before the application object exists).
class FormClippingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FormFixture> form;

    void showAt(const QSize& size);
    QStringList clippedTexts(QWidget* page) const;

private slots:
    void initTestCase();
    void init();
    void cleanup() { form.reset(); }

    void scaleTakesEffect();
    void noTextClipped_data();
    void noTextClipped();
    void textBoxesHoldTheirText();
    void windowGrowsWithTheForm();
};

namespace {

double requestedScale() {
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    return scale.isEmpty() ? 1.0 : scale.toDouble();
}

int requestedPointSize() {
    const QByteArray size = qgetenv("EFIS_FORM_FONT_PT");
    return size.isEmpty() ? 10 : size.toInt();
}

QString describe(const QWidget* widget, const QString& text) {
    return QString("%1 \"%2\"").arg(widget->objectName(), text);
}

// Text wider than the room a widget has for it, one line naming the widget, text and numbers.
void checkText(QStringList& problems, const QWidget* widget, const QString& text, int textWidth,
               int room) {
    if (textWidth > room) {
        problems << QString("%1: text %2 px wide, room for %3 px")
                        .arg(describe(widget, text))
                        .arg(textWidth)
                        .arg(room);
    }
}

// A layout gives every widget at least its minimum size hint.
void checkSize(QStringList& problems, const QWidget* widget, const QString& text) {
    const QSize hint = widget->minimumSizeHint();
    if (widget->width() < hint.width() || widget->height() < hint.height()) {
        problems << QString("%1: %2x%3 px, below its minimum size hint %4x%5")
                        .arg(describe(widget, text))
                        .arg(widget->width())
                        .arg(widget->height())
                        .arg(hint.width())
                        .arg(hint.height());
    }
}

void checkLabel(QStringList& problems, const QLabel* label) {
    const QFontMetrics fm(label->font());
    const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                      -label->margin(), -label->margin());
    checkText(problems, label, label->text(), fm.horizontalAdvance(label->text()), room.width());
    checkSize(problems, label, label->text());
    if (fm.height() > room.height()) {
        problems << QString("%1: text %2 px high, room for %3 px")
                        .arg(describe(label, label->text()))
                        .arg(fm.height())
                        .arg(room.height());
    }
}

void checkButton(QStringList& problems, QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
    const QRect room = button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, button);
    const QFontMetrics fm(button->font());
    checkText(problems, button, button->text(), fm.horizontalAdvance(button->text()), room.width());
    checkSize(problems, button, button->text());
}

// Every item, not only the current one: the box shows whichever the unit's settings pick.
void checkCombo(QStringList& problems, QComboBox* combo) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo);
    const QFontMetrics fm(combo->font());
    for (int i = 0; i < combo->count(); ++i) {
        checkText(problems, combo, combo->itemText(i), fm.horizontalAdvance(combo->itemText(i)),
                  room.width());
    }
    checkSize(problems, combo, combo->currentText());
}

// Each tab title whole and inside the tab bar, not behind scroll arrows.
void checkTabs(QStringList& problems, const QTabBar* bar) {
    const QFontMetrics fm(bar->font());
    for (int i = 0; i < bar->count(); ++i) {
        const QRect tab = bar->tabRect(i);
        checkText(problems, bar, bar->tabText(i), fm.horizontalAdvance(bar->tabText(i)),
                  tab.width());
        if (!bar->rect().contains(tab)) {
            problems << QString("%1: tab at %2..%3 px, bar %4 px wide")
                            .arg(describe(bar, bar->tabText(i)))
                            .arg(tab.left())
                            .arg(tab.right())
                            .arg(bar->width());
        }
    }
}

}  // namespace

void FormClippingTest::initTestCase() {
    QFont font = QApplication::font();
    font.setPointSize(requestedPointSize());
    QApplication::setFont(font);
}

void FormClippingTest::init() {
    form = std::make_unique<FormFixture>();
    installFormBehaviour(&form->ui);
    // The window fills the prefixes in; the box must fit the widest of them.
    for (const char* prefix : REGISTRATION_PREFIXES) {
        form->ui.comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
    }
}

void FormClippingTest::showAt(const QSize& size) {
    QMainWindow* window = form->window.get();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->resize(size.expandedTo(window->minimumSizeHint()));
    QApplication::processEvents();
}

QStringList FormClippingTest::clippedTexts(QWidget* page) const {
    QStringList problems;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(page)) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            checkLabel(problems, label);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            checkButton(problems, button);
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            checkCombo(problems, combo);
        } else if (qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
                   qobject_cast<QSlider*>(widget) != nullptr ||
                   qobject_cast<QProgressBar*>(widget) != nullptr) {
            checkSize(problems, widget, QString());
        }
    }
    return problems;
}

// A factor that the platform ignored would make every other check here meaningless.
void FormClippingTest::scaleTakesEffect() {
    showAt(form->window->size());
    QWindow* handle = form->window->windowHandle();
    QVERIFY(handle != nullptr);
    QCOMPARE(handle->devicePixelRatio(), requestedScale());
    QCOMPARE(form->window->devicePixelRatioF(), requestedScale());
    QCOMPARE(form->ui.label_vmin->font().pointSize(), 12);
    QCOMPARE(form->ui.comboBox_airspeed->font().pointSize(), requestedPointSize());
}

void FormClippingTest::noTextClipped_data() {
    QTest::addColumn<bool>("minimumSize");
    QTest::addColumn<int>("tab");

    const char* tabs[] = {"settings", "firmware", "airports", "calibrations"};
    for (int tab = 0; tab < 4; ++tab) {
        QTest::addRow("minimum size, %s", tabs[tab]) << true << tab;
        QTest::addRow("default size, %s", tabs[tab]) << false << tab;
    }
}

void FormClippingTest::noTextClipped() {
    QFETCH(bool, minimumSize);
    QFETCH(int, tab);

    form->ui.tabWidget->setCurrentIndex(tab);
    showAt(minimumSize ? QSize(0, 0) : QSize(1065, 598));
    QWidget* page = form->ui.tabWidget->widget(tab);
    if (minimumSize) {
        QCOMPARE(form->window->size(), form->window->minimumSizeHint());
    }
    QVERIFY(page->isVisible());
    QStringList problems = clippedTexts(page);
    checkTabs(problems, form->ui.tabWidget->tabBar());
    for (const QString& problem : problems) {
        qInfo().noquote() << problem;
    }
    QVERIFY2(problems.isEmpty(),
             qPrintable(QString("%1 clipped or squeezed").arg(problems.size())));
}

// The longest registration and ICAO address the record holds, and a file name, each on one
// line inside its box.
void FormClippingTest::textBoxesHoldTheirText() {
    showAt(QSize(0, 0));
    const struct {
        QAbstractScrollArea* box;
        QTextDocument* document;
        QString text;
        int tab;
    } boxes[] = {
        {form->ui.text_registration_num, form->ui.text_registration_num->document(), "ABCDEFGHIJ",
         0},
        {form->ui.text_icao, form->ui.text_icao->document(), "ABCDEF12", 0},
        {form->ui.text_firmware_file, form->ui.text_firmware_file->document(),
         "efis_firmware_0.2.14.bin", 1},
        {form->ui.text_firmware_file_2, form->ui.text_firmware_file_2->document(),
         "airports_europe_2024.bin", 2},
    };
    for (const auto& b : boxes) {
        form->ui.tabWidget->setCurrentIndex(b.tab);
        QApplication::processEvents();
        b.document->setPlainText(b.text);
        const QFontMetrics fm(b.box->font());
        const int margin = static_cast<int>(std::ceil(b.document->documentMargin()));
        const QSize room = b.box->viewport()->size() - QSize(2 * margin, 2 * margin);
        const QString what = describe(b.box, b.text);
        QVERIFY2(fm.horizontalAdvance(b.text) < room.width(),
                 qPrintable(QString("%1: text %2 px wide, room for %3 px")
                                .arg(what)
                                .arg(fm.horizontalAdvance(b.text))
                                .arg(room.width())));
        QVERIFY2(fm.lineSpacing() <= room.height(),
                 qPrintable(QString("%1: line %2 px high, room for %3 px")
                                .arg(what)
                                .arg(fm.lineSpacing())
                                .arg(room.height())));
    }
}

// The form is laid out, not placed: a larger window gives its tab more room.
void FormClippingTest::windowGrowsWithTheForm() {
    showAt(QSize(0, 0));
    const QSize small = form->ui.tabWidget->size();
    form->window->resize(form->window->size() + QSize(300, 200));
    QApplication::processEvents();
    QCOMPARE(form->ui.tabWidget->size(), small + QSize(300, 200));
    QVERIFY(form->window->minimumSize().isValid());
    QCOMPARE(form->window->minimumSize(), form->window->minimumSizeHint());
}

EFIS_QTEST(FormClippingTest);
#include "form_clipping_test.moc"
