#include "gui/mainwindow.h"

#include <QCloseEvent>
#include <QColor>
#include <QColorDialog>
#include <QComboBox>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "EFIS_shared/get_set.h"
#include "comms/can_msg_ids.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "gui/form_behaviour.h"
#include "settings/registration_prefix.h"
#include "ui_mainwindow.h"

Settings_t user_config;
uint32_t user_config_chk = 0;

namespace {
// The open window's diagnostic trace, which keeps the last log lines too; the lock keeps a
// closing window from going while a line is added from another thread.
std::mutex g_logTraceMutex;
DiagnosticTrace* g_logTrace = nullptr;

void setLogTrace(DiagnosticTrace* trace) {
    std::lock_guard<std::mutex> lock(g_logTraceMutex);
    g_logTrace = trace;
}
}  // namespace

void traceLogLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_logTraceMutex);
    if (g_logTrace != nullptr) {
        g_logTrace->addLine(frame_tap_time_us(), line);
    }
}

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    const QByteArray text = msg.toLocal8Bit();
    const char* file = context.file != nullptr ? context.file : "";
    const char* function = context.function != nullptr ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    static const char* const kinds[] = {"Debug", "Warning", "Critical", "Fatal", "Info"};
    const auto kind = static_cast<size_t>(type);
    traceLogLine(std::string(kind < 5 ? kinds[kind] : "Log") + ": " + text.toStdString());
    switch (type) {
    case QtDebugMsg:
        std::fprintf(stderr, "Debug: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtWarningMsg:
        std::fprintf(stderr, "Warning: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtCriticalMsg:
        std::fprintf(stderr, "Critical: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtFatalMsg:
        std::fprintf(stderr, "Fatal: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        std::abort();
    case QtInfoMsg:
        std::fprintf(stderr, "Info: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    }
    std::fflush(stderr);
}

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

const QString kNoLinkStatus =
    QStringLiteral("Error: No communication interface connected (USB HID or CAN FD)");

// The colour buttons of the settings tab, in element order.
struct ColourRow {
    QPushButton* button;
    settings_struct_index index;
};

std::array<ColourRow, 10> colourRows(const Ui::MainWindow* ui) {
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

struct SpeedRow {
    QSpinBox* box;
    settings_struct_index index;
};

std::array<SpeedRow, 8> speedRows(const Ui::MainWindow* ui) {
    return {{{ui->spinBox_vmin, VMIN_INDEX},
             {ui->spinBox_vs0, VS0_INDEX},
             {ui->spinBox_vs1, VS1_INDEX},
             {ui->spinBox_vfe, VFE_INDEX},
             {ui->spinBox_vn0, VN0_INDEX},
             {ui->spinBox_vne, VNE_INDEX},
             {ui->spinBox_vref, APPROACHSPEED_INDEX},
             {ui->spinBox_vlo, VLO_INDEX}}};
}

struct VoltRow {
    QDoubleSpinBox* box;
    settings_struct_index index;
};

std::array<VoltRow, 4> voltRows(const Ui::MainWindow* ui) {
    return {{{ui->min_volt_warn_value, MIN_VOLTS_INDEX},
             {ui->max_volt_warn_value, MAX_VOLTS_INDEX},
             {ui->min_volt_alert_value, MIN_VOLTS_ALERT_INDEX},
             {ui->max_volt_alert_value, MAX_VOLTS_ALERT_INDEX}}};
}

QString colourStyleSheet(uint32_t word) {
    // QColor::fromRgb ignores the alpha byte, which the form never shows.
    return QStringLiteral("background-color: %1;").arg(QColor::fromRgb(word).name());
}

// The colour a button's style sheet shows, as an opaque colour word.
bool colourFromStyleSheet(const QString& styleSheet, uint32_t* word) {
    static const QRegularExpression pattern(QStringLiteral("background-color: #([0-9a-fA-F]{6});"));
    const QRegularExpressionMatch match = pattern.match(styleSheet);
    if (!match.hasMatch()) {
        return false;
    }
    *word = match.captured(1).toUInt(nullptr, 16) | kOpaque;
    return true;
}

// Volts as the record keeps them: tenths, truncated toward zero.
uint32_t voltTenths(double volts) {
    return static_cast<uint32_t>(static_cast<int32_t>(volts * 10.0));
}

uint32_t floatBits(double value) {
    const float narrowed = static_cast<float>(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &narrowed, sizeof(bits));
    return bits;
}

// Four registration bytes as one element value, the first byte most significant.
uint32_t packRegistration(const char* bytes) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word = word << 8 | static_cast<unsigned char>(bytes[i]);
    }
    return word;
}

// Joins prefix and number into the three registration element values: at most 11
// characters, byte 11 zero, all zero for an empty number.
std::array<uint32_t, 3> joinRegistration(const QString& prefix, const QString& number) {
    char reg[12];
    std::memset(reg, 0, sizeof(reg));
    if (!number.isEmpty()) {
        const QByteArray bytes = (prefix + number).left(11).toLatin1();
        const int count = std::min(bytes.size(), 11);
        for (int i = 0; i < count && bytes.at(i) != '\0'; ++i) {
            reg[i] = bytes.at(i);
        }
    }
    return {packRegistration(reg), packRegistration(reg + 4), packRegistration(reg + 8)};
}

// Shows the stored registration as a prefix from the list and the rest of it.
void showRegistration(Ui::MainWindow* ui) {
    const auto* reg = reinterpret_cast<const unsigned char*>(user_config.registration);
    const QString defaultPrefix = QStringLiteral("N");
    const bool neverSet = std::all_of(reg, reg + sizeof(user_config.registration),
                                      [](unsigned char c) { return c == 0xFF; });
    int length = 0;
    while (!neverSet && length < 11 && reg[length] != 0x00 && reg[length] != 0xFF) {
        ++length;
    }
    if (length == 0) {
        ui->comboBox_reg_prefix->setCurrentIndex(ui->comboBox_reg_prefix->findText(defaultPrefix));
        ui->text_registration_num->setPlainText(QString());
        return;
    }
    const QString full = QString::fromLatin1(user_config.registration, length);
    qDebug() << "Created string:" << full;

    QString prefix;
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        const QString candidate = QString::fromLatin1(REGISTRATION_PREFIXES[i]);
        if (full.startsWith(candidate, Qt::CaseSensitive)) {
            prefix = candidate;
            break;
        }
    }
    qDebug() << "Found prefix:" << prefix;

    if (!prefix.isEmpty()) {
        ui->comboBox_reg_prefix->setCurrentIndex(ui->comboBox_reg_prefix->findText(prefix));
        ui->text_registration_num->setPlainText(
            full.mid(prefix.size()).left(std::max(0, 11 - prefix.size())));
    } else {
        ui->comboBox_reg_prefix->setCurrentIndex(ui->comboBox_reg_prefix->findText(defaultPrefix));
        ui->text_registration_num->setPlainText(full.left(10));
    }
}

// Bits 0 to 8 of a units word set from the unit combo boxes: from `only` alone when it is one
// of them, else from all four. The undefined bits 9 to 31 keep the value they have, and so do
// the groups of the combo boxes not taken.
uint32_t unitsFromForm(const Ui::MainWindow* ui, units_t units, const QObject* only = nullptr) {
    unit_bits_t& bits = units.unit_bits;
    const auto take = [only](const QComboBox* box) { return only == nullptr || only == box; };
    if (take(ui->comboBox_airspeed)) {
        const int airspeed = ui->comboBox_airspeed->currentIndex();
        bits.is_mph = airspeed == 0;
        bits.is_knots = airspeed == 1;
        bits.is_kph = airspeed == 2;
    }
    if (take(ui->comboBox_altitude)) {
        bits.is_meters = ui->comboBox_altitude->currentIndex() == 1;
        bits.is_feet = !bits.is_meters;
    }
    if (take(ui->comboBox_temp)) {
        bits.is_celsius = ui->comboBox_temp->currentIndex() == 1;
        bits.is_fahrenheit = !bits.is_celsius;
    }
    if (take(ui->comboBox_pressure)) {
        bits.is_mbar = ui->comboBox_pressure->currentIndex() == 1;
        bits.is_inhg = !bits.is_mbar;
    }
    return units.units_value;
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

// Enter in a one-line text field does nothing (Tab moves the focus on).
class SingleLineKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// Opens the colour dialog for one colour button; true when a colour was chosen, which the
// button then shows.
bool pickButtonColour(QWidget* parent, QPushButton* button, uint32_t current, const QColor& custom,
                      const QString& title) {
    QColorDialog::setCustomColor(1, custom);
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(current), parent, title);
    if (!chosen.isValid()) {
        return false;
    }
    button->setStyleSheet(colourStyleSheet(chosen.rgb()));
    return true;
}

bool linkUp(const CommsManager* comms) {
    return comms != nullptr && comms->isConnected();
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), comms(nullptr) {
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
    installFormBehaviour(ui);
    statusBar()->showMessage(QStringLiteral("Initializing..."), 0);
    pendingLabel = new QLabel(this);
    pendingLabel->setObjectName(QStringLiteral("label_pending_edits"));
    backupLabel = new QLabel(this);
    backupLabel->setObjectName(QStringLiteral("label_backup"));
    statusBar()->addPermanentWidget(backupLabel);
    statusBar()->addPermanentWidget(pendingLabel);
    setupFileMenu();
    setupTransferControls();
    setupLinkControls();
    auto* singleLine = new SingleLineKeys(this);
    for (QPlainTextEdit* field : {ui->text_registration_num, ui->text_icao}) {
        field->setTabChangesFocus(true);
        field->installEventFilter(singleLine);
    }

    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        ui->comboBox_reg_prefix->addItem(QString::fromLatin1(REGISTRATION_PREFIXES[i]));
    }

    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);
    connect(ui->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui->pushButton_start_update, &QPushButton::clicked, this,
            &MainWindow::onStartUpdateClicked);

    ui->text_firmware_file_2->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->progressBar_airports->setEnabled(false);
    connect(ui->pushButton_browse_airports, &QPushButton::clicked, this,
            &MainWindow::onBrowseAirportsClicked);
    connect(ui->pushButton_start_airport, &QPushButton::clicked, this,
            &MainWindow::onStartAirportClicked);

    std::memset(&user_config.vspeeds, 0, sizeof(user_config.vspeeds));

    const auto comboIndex = QOverload<int>::of(&QComboBox::currentIndexChanged);
    const auto spinValue = QOverload<int>::of(&QSpinBox::valueChanged);
    const auto doubleValue = QOverload<double>::of(&QDoubleSpinBox::valueChanged);

    connect(ui->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
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
    connect(ui->comboBox_airspeed, comboIndex, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_altitude, comboIndex, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_temp, comboIndex, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_pressure, comboIndex, this, &MainWindow::onUnitsChanged);
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
    connect(ui->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);

    refreshMarks();
    comms = new CommsManager();
    setLogTrace(&diagnosticTrace);
    // The window shows at once; the connection sequence and the first load follow.
    startLinkWatch();
}

MainWindow::~MainWindow() {
    unitPoll->stop();
    // A connection attempt ends on its own within its links' time-outs.
    if (connectionThread != nullptr) {
        connectionThread->wait();
    }
    setLogTrace(nullptr);
    // A worker holds the comms manager until its upload returns, so the manager outlives it:
    // after the two-minute wait the worker is asked to stop between packets and joined.
    for (QThread* worker : {firmwareUploadThread.data(), airportUploadThread.data()}) {
        if (worker != nullptr && worker->isRunning() && !worker->wait(120000)) {
            uploadCancel = true;
            worker->wait();
        }
    }
    // Each worker's last act is storing its result: reading both after the joins orders all
    // its use of the link before the deletion, in a way thread checkers see too.
    (void)firmwareUploadResult.load(std::memory_order_acquire);
    (void)airportUploadResult.load(std::memory_order_acquire);
    delete comms;
    comms = nullptr;
    delete ui;
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

    for (const ColourRow& row : colourRows(ui)) {
        row.button->setStyleSheet(colourStyleSheet(settings_get_value(&user_config, row.index)));
    }

    const unit_bits_t& bits = user_config.units.unit_bits;
    ui->comboBox_airspeed->setCurrentIndex(bits.is_mph     ? 0
                                           : bits.is_knots ? 1
                                           : bits.is_kph   ? 2
                                                           : 1);
    ui->comboBox_altitude->setCurrentIndex(bits.is_meters);
    ui->comboBox_temp->setCurrentIndex(bits.is_celsius);
    ui->comboBox_pressure->setCurrentIndex(bits.is_mbar);
    for (const SpeedRow& row : speedRows(ui)) {
        row.box->setValue(static_cast<int>(settings_get_value(&user_config, row.index)));
    }
    for (const VoltRow& row : voltRows(ui)) {
        row.box->setValue(settings_get_value(&user_config, row.index) / 10.0);
    }

    showRegistration(ui);

    ui->backlight_slider->setValue(static_cast<int>(user_config.backlight_brightness));
    ui->text_bg_alpha_slider->setValue(std::min(static_cast<int>(user_config.text_bg_alpha), 254));
    // A correction that is not a number has no nearest limit; it shows as no correction.
    const auto correction = [](float value) {
        return std::isnan(value) ? 0.0 : static_cast<double>(value);
    };
    ui->roll_corr_spinbox->setValue(correction(user_config.roll_correction));
    ui->pitch_corr_spinbox->setValue(correction(user_config.pitch_correction));
    ui->text_icao->setPlainText(
        QStringLiteral("%1")
            .arg(user_config.ownship_icao & 0xFFFFFFu, 6, 16, QLatin1Char('0'))
            .toUpper());
    const int lastEmitter = std::max(0, ui->comboBox_emitter_cat->count() - 1);
    ui->comboBox_emitter_cat->setCurrentIndex(
        std::clamp(static_cast<int>(user_config.emitter_cat), 0, lastEmitter));
    if (user_config.icao_address_type == 1) {
        ui->radioButton_rand_icao->setChecked(true);
    } else {
        ui->radioButton_use_icao->setChecked(true);
    }
    const int map = static_cast<int>(user_config.map_track);
    ui->comboBox_map_view->setCurrentIndex(map >= 0 && map < ui->comboBox_map_view->count() ? map
                                                                                            : 0);
    ui->comboBox_term_res->setCurrentIndex(user_config.enable_term_resistor == 0 ? 1 : 0);

    for (QObject* widget : blocked) {
        widget->blockSignals(false);
    }

    showSliderValues(ui);

    lossyValues.clear();
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        uint32_t shown = 0;
        if (formValue(index, &shown) && shown != settings_get_value(&user_config, index)) {
            lossyValues.insert(index);
        }
    }
    refreshMarks();
}

bool MainWindow::formValue(settings_struct_index index, uint32_t* value) const {
    for (const ColourRow& row : colourRows(ui)) {
        if (row.index == index) {
            return colourFromStyleSheet(row.button->styleSheet(), value);
        }
    }
    for (const SpeedRow& row : speedRows(ui)) {
        if (row.index == index) {
            *value = static_cast<uint32_t>(row.box->value());
            return true;
        }
    }
    for (const VoltRow& row : voltRows(ui)) {
        if (row.index == index) {
            *value = voltTenths(row.box->value());
            return true;
        }
    }
    switch (index) {
    case UNITS_VALUE_INDEX:
        *value = unitsFromForm(ui, user_config.units);
        return true;
    case REGISTRATION_1_INDEX:
    case REGISTRATION_2_INDEX:
    case REGISTRATION_3_INDEX:
        *value = joinRegistration(
            ui->comboBox_reg_prefix->currentText(),
            ui->text_registration_num
                ->toPlainText())[static_cast<size_t>(index - REGISTRATION_1_INDEX)];
        return true;
    case BACKLIGHT_BRIGHTNESS_INDEX:
        *value = static_cast<uint32_t>(ui->backlight_slider->value());
        return true;
    case TEXT_BG_ALPHA_INDEX:
        *value = static_cast<uint32_t>(ui->text_bg_alpha_slider->value());
        return true;
    case ROLL_CORRECTION_INDEX:
        *value = floatBits(ui->roll_corr_spinbox->value());
        return true;
    case PITCH_CORRECTION_INDEX:
        *value = floatBits(ui->pitch_corr_spinbox->value());
        return true;
    case OWNSHIP_ICAO_INDEX:
        *value = ownshipIcaoFromIcaoField();
        return true;
    case ICAO_ADDR_TYPE_INDEX:
        *value = ui->radioButton_rand_icao->isChecked() ? 1u : 0u;
        return true;
    case EMITTER_CAT_INDEX:
        *value = static_cast<uint32_t>(ui->comboBox_emitter_cat->currentIndex());
        return true;
    case MAP_DIR_INDEX:
        *value = static_cast<uint32_t>(ui->comboBox_map_view->currentIndex());
        return true;
    case TERM_RESISTOR_INDEX:
        *value = ui->comboBox_term_res->currentIndex() == 0 ? 1u : 0u;
        return true;
    default:
        return false;
    }
}

uint32_t MainWindow::ownshipIcaoFromIcaoField() const {
    const QString text = ui->text_icao->toPlainText().trimmed();
    if (text.isEmpty()) {
        return 0;
    }
    static const QRegularExpression hexDigits(QStringLiteral("^[\\da-fA-F]+$"));
    bool ok = false;
    const uint32_t number =
        hexDigits.match(text).hasMatch() ? text.toUInt(&ok, 16) : text.toUInt(&ok, 10);
    return ok ? (number & 0xFFFFFFu) : 0;
}

void MainWindow::loadConfigFromDevice(const QString& editsKept) {
    if (!linkReady()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(kNoLinkStatus, 0);
        return;
    }
    if (refuseWhileTransferring()) {
        return;
    }

    const PendingSet edits = editsKept.isEmpty() ? PendingSet() : changed_values;
    Settings_t edited = user_config;
    changed_values.clear();
    const LoadResult result = settings_load(comms, &unitRecord);
    // The working record is the unit's: a load stopped early leaves it zero apart from the
    // header words read, and the form keeps showing what it showed. Edits kept over a
    // reconnection lie over the record of the unit now connected.
    user_config = unitRecord.record;
    user_config_chk = unitRecord.device_crc;
    for (const settings_struct_index index : edits) {
        uint32_t value = settings_get_value(&edited, index);
        settings_set_value(&user_config, index, &value);
        changed_values.insert(index);
    }

    struct Failure {
        LoadStatus status;
        const char* log;
        const char* text;
    };
    static const Failure failures[] = {
        {LoadStatus::ChecksumReadFailed, "Error reading checksum value",
         "Error: Failed to read checksum from device"},
        {LoadStatus::MagicReadFailed, "Error reading magic value",
         "Error: Failed to read magic number from device"},
        {LoadStatus::VersionReadFailed, "Error reading memory version value",
         "Error: Failed to read memory version from device"},
        {LoadStatus::CountReadFailed, "Error reading num_elements value",
         "Error: Failed to read num_elements from device"},
    };
    for (const Failure& failure : failures) {
        if (result.status == failure.status) {
            qDebug() << failure.log;
            statusBar()->showMessage(QString::fromLatin1(failure.text), 0);
            refreshMarks();
            return;
        }
    }
    if (result.status == LoadStatus::InvalidCount) {
        qDebug() << "Invalid num_elements value" << result.element_count;
        statusBar()->showMessage(
            QStringLiteral("Error: Device reported an invalid settings element count (%1)")
                .arg(result.element_count),
            0);
        refreshMarks();
        return;
    }

    for (const settings_struct_index index : result.unread) {
        qDebug() << "Warning: Failed to read value for index" << static_cast<int>(index)
                 << ", setting to 0";
    }
    if (result.status == LoadStatus::RecordRejected) {
        qDebug() << "Error setting value for index" << result.rejected_index;
        statusBar()->showMessage(QStringLiteral("Error: Failed to process configuration data"), 0);
        refreshMarks();
        return;
    }

    if (!result.crc_matches) {
        qDebug() << "CRC mismatch: Calculated =" << QString::number(result.calculated_crc, 16)
                 << "Stored=" << QString::number(user_config_chk, 16);
    }

    updateUIFromConfig();

    // Warnings stay in the status bar until the next message, so the outcome text names
    // every problem of this load.
    const int failedReads = static_cast<int>(result.unread.size());
    QString outcome = QStringLiteral("Configuration successfully loaded from device");
    if (!result.crc_matches && failedReads > 0) {
        outcome = QStringLiteral(
                      "Warning: Configuration CRC verification failed and %1 configuration "
                      "value(s) could not be read from device")
                      .arg(failedReads);
    } else if (!result.crc_matches) {
        outcome = QStringLiteral("Warning: Configuration CRC verification failed");
    } else if (failedReads > 0) {
        outcome = QStringLiteral("Warning: %1 configuration value(s) could not be read from device")
                      .arg(failedReads);
    } else if (!editsKept.isEmpty()) {
        outcome = editsKept;
    }
    statusBar()->showMessage(outcome, 0);
}

void MainWindow::onLoadClicked() {
    // Only a load that would run asks: one refused for the link or a transfer loses nothing.
    if (!changed_values.empty() && linkUpAndIdle() &&
        !confirm(
            QStringLiteral("Discard %1 unsent edit(s)?").arg(pending_setting_count(changed_values)),
            QStringLiteral("Loading replaces the form with the settings the unit holds. "
                           "Edits not sent with Update are lost."),
            QStringLiteral("Discard Edits and Load"))) {
        return;
    }
    loadConfigFromDevice();
}

void MainWindow::onUpdateClicked() {
    if (!linkReady()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(kNoLinkStatus, 0);
        return;
    }
    if (refuseWhileTransferring()) {
        return;
    }
    if (changed_values.empty()) {
        statusBar()->showMessage(QStringLiteral("No changes to send"), 0);
        return;
    }

    // Values the unit did not acknowledge stay pending, so the next Update sends them again.
    const UpdateResult result = settings_update(comms, user_config, &changed_values, &unitRecord);
    for (const settings_struct_index index : result.failed) {
        qDebug() << "Failed to send value for index" << static_cast<int>(index);
    }
    refreshMarks();

    if (result.failed.empty()) {
        statusBar()->showMessage(
            QStringLiteral("Successfully sent %1 configuration value(s) to device")
                .arg(result.sent),
            0);
    } else {
        statusBar()->showMessage(QStringLiteral("Sent %1 value(s), %2 failed")
                                     .arg(result.sent)
                                     .arg(result.failed.size()),
                                 0);
    }
}

void MainWindow::onSaveClicked() {
    if (!linkReady()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(kNoLinkStatus, 0);
        return;
    }
    if (refuseWhileTransferring()) {
        return;
    }

    const SaveResult result = settings_save(comms, &unitRecord, changed_values);
    switch (result.status) {
    case SaveStatus::Ok:
        // Every edit was acknowledged, so the working record is what the unit now stores.
        user_config = unitRecord.record;
        updateUIFromConfig();
        statusBar()->showMessage(QStringLiteral("Configuration saved to EEPROM successfully"), 0);
        break;
    case SaveStatus::EditsPending:
        statusBar()->showMessage(
            QStringLiteral("Warning: %1 edited value(s) not sent yet; press Update before Save")
                .arg(result.count),
            0);
        break;
    case SaveStatus::NotLoaded:
        qDebug() << "Settings record not known; values not read:" << result.count;
        statusBar()->showMessage(
            QStringLiteral("Error: The unit's settings were not read completely; press Load "
                           "before Save"),
            0);
        break;
    case SaveStatus::VersionReadFailed:
        qDebug() << "Error reading memory version value";
        statusBar()->showMessage(QStringLiteral("Error: Failed to read memory version from device"),
                                 0);
        break;
    case SaveStatus::CountReadFailed:
        qDebug() << "Error reading num_elements value";
        statusBar()->showMessage(QStringLiteral("Error: Failed to read num_elements from device"),
                                 0);
        break;
    case SaveStatus::InvalidCount:
        qDebug() << "Invalid num_elements value" << result.element_count;
        statusBar()->showMessage(
            QStringLiteral("Error: Device reported an invalid settings element count (%1)")
                .arg(result.element_count),
            0);
        break;
    case SaveStatus::StoreFailed:
    case SaveStatus::NoLink:
        qDebug() << "Error storing configuration to EEPROM";
        statusBar()->showMessage(QStringLiteral("Error: Failed to store configuration to EEPROM"),
                                 0);
        break;
    }
    refreshMarks();
}

void MainWindow::onRebootClicked() {
    if (!linkReady()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(kNoLinkStatus, 0);
        return;
    }
    if (refuseWhileTransferring()) {
        return;
    }
    QString informative =
        QStringLiteral("The unit restarts into its boot loader and stops showing flight data.");
    if (unitRecord.sent_not_saved) {
        informative += QStringLiteral(" Values sent but not saved with Save are lost.");
    }
    if (!changed_values.empty()) {
        informative += QStringLiteral(" %1 edit(s) not sent yet stay in the form only.")
                           .arg(pending_setting_count(changed_values));
    }
    if (firmwareIncomplete) {
        informative += QStringLiteral(
            " The last firmware update did not complete: the firmware bank holds an incomplete "
            "image, and the unit must not start into it.");
    }
    if (!confirm(QStringLiteral("Reboot the EFIS?"), informative, QStringLiteral("Reboot"))) {
        return;
    }

    if (enter_boot_loader(comms) > 0) {
        qDebug() << "Reboot command sent successfully";
        // What was sent and not saved is gone with the restart.
        unitRecord.sent_not_saved = false;
        refreshMarks();
        statusBar()->showMessage(QStringLiteral("Reboot command sent to device"), 0);
        restartExpected();
    } else {
        qDebug() << "Failed to send reboot command";
        statusBar()->showMessage(QStringLiteral("Error: Failed to send reboot command"), 0);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closeDuringTransfer()) {
        event->ignore();
        return;
    }
    if (changed_values.empty() && !unitRecord.sent_not_saved) {
        event->accept();
        return;
    }
    QStringList lost;
    if (!changed_values.empty()) {
        lost << QStringLiteral("%1 edit(s) not sent to the unit")
                    .arg(pending_setting_count(changed_values));
    }
    if (unitRecord.sent_not_saved) {
        lost << QStringLiteral("values sent but not saved on the unit (lost when it restarts)");
    }
    if (confirm(QStringLiteral("Close with unsaved settings?"),
                QStringLiteral("There are %1.").arg(lost.join(QStringLiteral(" and "))),
                QStringLiteral("Close Anyway"))) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool MainWindow::event(QEvent* event) {
    // A menu's status tip would clear the status bar; its messages stay until the next one.
    if (event->type() == QEvent::StatusTip) {
        return true;
    }
    return QMainWindow::event(event);
}

bool MainWindow::linkUpAndIdle() const {
    return linkReady() && !transferRunning();
}

bool MainWindow::linkReady() const {
    return !connectionAttemptRunning() && linkUp(comms);
}

bool MainWindow::confirm(const QString& text, const QString& informative, const QString& proceed) {
    QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("confirmation"));
    box.setInformativeText(informative);
    QPushButton* go = box.addButton(proceed, QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == go;
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

void MainWindow::onUnitsChanged() {
    // Only the group the user changed: a group the form cannot show as the unit holds it
    // (no speed unit set, say) stays as it is.
    updateConfigValueLocal(UNITS_VALUE_INDEX, unitsFromForm(ui, user_config.units, sender()));
}

void MainWindow::onVminChanged(int value) {
    updateConfigValueLocal(VMIN_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVs0Changed(int value) {
    updateConfigValueLocal(VS0_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVs1Changed(int value) {
    updateConfigValueLocal(VS1_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVfeChanged(int value) {
    updateConfigValueLocal(VFE_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVn0Changed(int value) {
    updateConfigValueLocal(VN0_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVneChanged(int value) {
    updateConfigValueLocal(VNE_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVrefChanged(int value) {
    updateConfigValueLocal(APPROACHSPEED_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onVloChanged(int value) {
    updateConfigValueLocal(VLO_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onMinVoltChanged(double value) {
    updateConfigValueLocal(MIN_VOLTS_INDEX, voltTenths(value));
}

void MainWindow::onMaxVoltChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_INDEX, voltTenths(value));
}

void MainWindow::onMinVoltAlertChanged(double value) {
    updateConfigValueLocal(MIN_VOLTS_ALERT_INDEX, voltTenths(value));
}

void MainWindow::onMaxVoltAlertChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_ALERT_INDEX, voltTenths(value));
}

void MainWindow::onRegistrationChanged() {
    if (dropControlCharacters(ui->text_registration_num)) {
        return;
    }
    const std::array<uint32_t, 3> reg = joinRegistration(ui->comboBox_reg_prefix->currentText(),
                                                         ui->text_registration_num->toPlainText());
    updateConfigValueLocal(REGISTRATION_1_INDEX, reg[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, reg[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, reg[2]);
}

void MainWindow::onSkyColor0Changed() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_sky0->styleSheet(), &word)) {
        updateConfigValueLocal(SKY_COLOR_0_INDEX, word);
    }
}

void MainWindow::onSkyColor1Changed() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_sky1->styleSheet(), &word)) {
        updateConfigValueLocal(SKY_COLOR_1_INDEX, word);
    }
}

void MainWindow::onGroundColor0Changed() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_ground0->styleSheet(), &word)) {
        updateConfigValueLocal(GROUND_COLOR_0_INDEX, word);
    }
}

void MainWindow::onGroundColor1Changed() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_ground1->styleSheet(), &word)) {
        updateConfigValueLocal(GROUND_COLOR_1_INDEX, word);
    }
}

void MainWindow::onApproachIndiColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_app_indi->styleSheet(), &word)) {
        updateConfigValueLocal(APPROACH_COLOR_INDEX, word);
    }
}

void MainWindow::onAirplaneColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_airplane->styleSheet(), &word)) {
        updateConfigValueLocal(AIRPLANE_COLOR_INDEX, word);
    }
}

void MainWindow::onGreenArcColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_green->styleSheet(), &word)) {
        updateConfigValueLocal(GREEN_ARC_COLOR_INDEX, word);
    }
}

void MainWindow::onYellowArcColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_yellow->styleSheet(), &word)) {
        updateConfigValueLocal(YELLOW_ARC_COLOR_INDEX, word);
    }
}

void MainWindow::onRedArcColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_red->styleSheet(), &word)) {
        updateConfigValueLocal(RED_ARC_COLOR_INDEX, word);
    }
}

void MainWindow::onGearIndiColorChanged() {
    uint32_t word = 0;
    if (colourFromStyleSheet(ui->color_picker_gear->styleSheet(), &word)) {
        updateConfigValueLocal(GEAR_INDI_COLOR_INDEX, word);
    }
}

void MainWindow::onSkyColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_sky0, user_config.sky_color[0],
                         QColor(135, 206, 235), QStringLiteral("Select Sky Color 0"))) {
        onSkyColor0Changed();
    }
}

void MainWindow::onSkyColor1PickerClicked() {
    if (pickButtonColour(this, ui->color_picker_sky1, user_config.sky_color[1],
                         QColor(135, 206, 235), QStringLiteral("Select Sky Color 1"))) {
        onSkyColor1Changed();
    }
}

void MainWindow::onGroundColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_ground0, user_config.ground_color[0],
                         QColor(34, 139, 34), QStringLiteral("Select Ground Color 0"))) {
        onGroundColor0Changed();
    }
}

void MainWindow::onGroundColor1PickerClicked() {
    if (pickButtonColour(this, ui->color_picker_ground1, user_config.ground_color[1],
                         QColor(34, 139, 34), QStringLiteral("Select Ground Color 1"))) {
        onGroundColor1Changed();
    }
}

void MainWindow::onApproachIndiColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_app_indi, user_config.vref_indi_color,
                         QColor(255, 255, 0), QStringLiteral("Select Approach Indicator Color"))) {
        onApproachIndiColorChanged();
    }
}

void MainWindow::onAirplaneColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_airplane, user_config.airplane_color,
                         QColor(255, 255, 255), QStringLiteral("Select Airplane Color"))) {
        onAirplaneColorChanged();
    }
}

void MainWindow::onGreenArcColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_green, user_config.green_arc_color,
                         QColor(0, 255, 0), QStringLiteral("Select Green Arc Color"))) {
        onGreenArcColorChanged();
    }
}

void MainWindow::onYellowArcColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_yellow, user_config.yellow_arc_color,
                         QColor(255, 255, 0), QStringLiteral("Select Yellow Arc Color"))) {
        onYellowArcColorChanged();
    }
}

void MainWindow::onRedArcColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_red, user_config.red_arc_color, QColor(255, 0, 0),
                         QStringLiteral("Select Red Arc Color"))) {
        onRedArcColorChanged();
    }
}

void MainWindow::onGearIndiColorPickerClicked() {
    if (pickButtonColour(this, ui->color_picker_gear, user_config.gear_indi_color,
                         QColor(255, 255, 255), QStringLiteral("Select Gear Indicator Color"))) {
        onGearIndiColorChanged();
    }
}

void MainWindow::onBacklightBrightnessChanged(int value) {
    updateConfigValueLocal(BACKLIGHT_BRIGHTNESS_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onTextBgAlphaChanged(int value) {
    updateConfigValueLocal(TEXT_BG_ALPHA_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onRollCorrectionChanged(double value) {
    updateConfigValueLocal(ROLL_CORRECTION_INDEX, floatBits(value));
}

void MainWindow::onPitchCorrectionChanged(double value) {
    updateConfigValueLocal(PITCH_CORRECTION_INDEX, floatBits(value));
}

void MainWindow::onOwnshipIcaoChanged() {
    if (dropControlCharacters(ui->text_icao)) {
        return;
    }
    updateConfigValueLocal(OWNSHIP_ICAO_INDEX, ownshipIcaoFromIcaoField());
}

void MainWindow::onEmitterCatChanged(int index) {
    updateConfigValueLocal(EMITTER_CAT_INDEX, static_cast<uint32_t>(index));
}

void MainWindow::onMapViewChanged(int index) {
    updateConfigValueLocal(MAP_DIR_INDEX, static_cast<uint32_t>(index));
}

void MainWindow::onTermResChanged(int index) {
    updateConfigValueLocal(TERM_RESISTOR_INDEX, index == 0 ? 1u : 0u);
}

void MainWindow::onIcaoAddressTypeChanged() {
    updateConfigValueLocal(ICAO_ADDR_TYPE_INDEX, ui->radioButton_rand_icao->isChecked() ? 1u : 0u);
}
