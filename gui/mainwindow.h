// The program's only window: the settings form, the device actions on it and the two
// background uploads.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"
#include "comms/diagnostic_trace.h"
#include "comms/link_watch.h"
#include "comms/unit_choice.h"
#include "firmware_ops/transfer_meter.h"
#include "settings/logbook.h"
#include "settings/settings_exchange.h"
#include "settings/settings_file.h"

namespace Ui {
class MainWindow;
}

class CommsManager;
class DeviceEvents;
class QAction;
class QActionGroup;
class QCloseEvent;
class QColor;
class QLabel;
class QMenu;
class QTimer;
class QProgressBar;
class QPushButton;

// Formats every Qt log message of the process as one line on standard error.
void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
// Keeps one log line in the open window's diagnostic trace (none is open: dropped). Safe from
// any thread.
void traceLogLine(const std::string& line);

// The working settings record of the settings tab, and the checksum the unit reported at
// the last load.
extern Settings_t user_config;
extern uint32_t user_config_chk;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // A progress report of the running upload: the bar's position, the status text, and
    // the report itself (phase 0 erase in blocks, phase 1 write in bytes) for its figures.
    void applyFirmwareUploadProgress(int bar_0_10000, const QString& status, uint32_t current,
                                     uint32_t total, int phase);
    void applyAirportUploadProgress(int bar_0_10000, const QString& status, uint32_t current,
                                    uint32_t total, int phase);
    // The steady clock, in seconds, that transfer figures are measured with (tests set one).
    void setTransferClock(std::function<double()> clock);
    // The clock, in milliseconds, of the watch for the unit (tests set one).
    void setLinkClock(std::function<int64_t()> clock);
    // A connection attempt runs on its worker (one starts as the window opens).
    bool connectionAttemptRunning() const;
    // The CAN interface the connection uses.
    QString canInterface() const;
    // A link to the unit is up (and no connection attempt runs).
    bool unitLinked() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private slots:
    void onSaveClicked();
    void onLoadClicked();
    void onBrowseClicked();
    void onStartUpdateClicked();
    void onBrowseAirportsClicked();
    void onStartAirportClicked();
    void onSkyColorPickerClicked();
    void onSkyColor1PickerClicked();
    void onGroundColorPickerClicked();
    void onGroundColor1PickerClicked();
    void onApproachIndiColorPickerClicked();
    void onAirplaneColorPickerClicked();
    void onGreenArcColorPickerClicked();
    void onYellowArcColorPickerClicked();
    void onRedArcColorPickerClicked();
    void onGearIndiColorPickerClicked();
    void onUnitsChanged();
    void onVminChanged(int value);
    void onVs0Changed(int value);
    void onVs1Changed(int value);
    void onVfeChanged(int value);
    void onVn0Changed(int value);
    void onVneChanged(int value);
    void onVrefChanged(int value);
    void onVloChanged(int value);
    void onMinVoltChanged(double value);
    void onMaxVoltChanged(double value);
    void onMinVoltAlertChanged(double value);
    void onMaxVoltAlertChanged(double value);
    void onRegistrationChanged();
    void onSkyColor0Changed();
    void onSkyColor1Changed();
    void onGroundColor0Changed();
    void onGroundColor1Changed();
    void onApproachIndiColorChanged();
    void onAirplaneColorChanged();
    void onGreenArcColorChanged();
    void onYellowArcColorChanged();
    void onRedArcColorChanged();
    void onGearIndiColorChanged();
    void onBacklightBrightnessChanged(int value);
    void onTextBgAlphaChanged(int value);
    void onRollCorrectionChanged(double value);
    void onPitchCorrectionChanged(double value);
    void onOwnshipIcaoChanged();
    void onEmitterCatChanged(int index);
    void onMapViewChanged(int index);
    void onTermResChanged(int index);
    void onIcaoAddressTypeChanged();
    void onUpdateClicked();
    void onRebootClicked();

private:
    // The settings form: its signals to the edit slots, filling it from the working record,
    // and the edits back into the record.
    void connectFormControls();
    void updateUIFromConfig();
    // The element value the form shows, encoded as the record holds it; false for an element
    // the form does not show.
    bool formValue(settings_struct_index index, uint32_t* value) const;
    void numberEdited(settings_struct_index index, double value);
    void choiceEdited(settings_struct_index index, int item);
    void controlEdited(settings_struct_index index);
    // The colour dialog for a colour button; a colour chosen is an edit.
    void pickColour(settings_struct_index index, const QColor& custom, const QString& title);
    // Reads the unit's record into the form. With `editsKept` (the outcome text then), edits
    // not sent stay as edits over it.
    void loadConfigFromDevice(const QString& editsKept = QString());
    void updateConfigValueLocal(settings_struct_index index, uint32_t value);

    // Marks on the form: edited values not sent yet, and values the form cannot show as the
    // unit holds them; the status bar counts what is unsent or unsaved.
    void refreshMarks();
    // The File menu and the settings files behind it.
    void setupFileMenu();
    SettingsFile settingsFileOf(const Settings_t& record) const;
    void exportSettings();
    void importSettings();
    // The settings backup before a firmware upload; false when it failed and the user would
    // rather not update without it.
    bool backupBeforeFirmwareUpload();
    bool linkUpAndIdle() const;
    // A link is up and no connection attempt is using the comms manager.
    bool linkReady() const;

    // The connection that follows the unit: arriving, leaving and restarting.
    void setupLinkControls();
    void startLinkWatch();
    void startConnectionAttempt();
    void setAttemptActionsEnabled(bool enabled);
    void onConnectionAttemptEnded();
    void applyLinkSteps(const LinkSteps& steps);
    void onUnitFound(bool returned);
    UnitPresence unitPresence() const;
    void pollUnit();
    void restartExpected();
    void reconnect();
    int64_t linkNowMs() const;
    QString linkDescription() const;
    void showLinkLabel();
    void fillCanInterfaceMenu();
    // Device > Unit: the units the last attempt found, the one in use ticked.
    void setupUnitMenu(QMenu* device);
    void fillUnitMenu();
    void chooseUnit(uint32_t serial);
    // After an attempt: what it found, and the warning when several units left the choice to
    // the user or shared one CAN bus.
    void noteUnitsFound(bool linked);
    void chooseCanInterface(const QString& name);
    void saveDiagnosticTrace();
    void showAbout();
    // The unit's logbook: an ended action is added to it, and a failure to write it is a
    // warning after the action's outcome in the status bar.
    void recordInLogbook(const QJsonObject& action);
    void showLogbook();
    void saveConfigurationSheet();

    // Asks before an action that would lose something; true when the user goes ahead.
    bool confirm(const QString& text, const QString& informative, const QString& proceed);

    // While an upload owns the link, the settings actions must not reach it.
    bool transferRunning() const;
    bool refuseWhileTransferring();
    bool refuseSettingsAction();
    void setDeviceActionsEnabled(bool enabled);
    void onFirmwareUploadFinished();
    void onAirportUploadFinished();
    // The upload just ended (an upload_result_t) into the unit's logbook.
    void recordUpload(bool firmware, uint32_t result);
    // The summary and Cancel button of each transfer tab, the figures on the running bar.
    void setupTransferControls();
    void showTransferPlan(bool firmware);
    void startTransferFigures();
    void showTransferFigures(QProgressBar* bar, uint32_t current, uint32_t total, int phase);
    void logTransferFigures(const char* what);
    void setCancelButtons();
    void transferEnded();
    void cancelTransfer();
    // Asks whether a transfer should keep running when the window is closed; true when the
    // close may go ahead now.
    bool closeDuringTransfer();

    Ui::MainWindow* ui;
    QString firmwareFilePath;
    QString airportDbFilePath;
    CommsManager* comms;
    PendingSet changed_values;
    // The unit's record as last loaded plus every value it acknowledged since.
    UnitRecord unitRecord;
    // Elements whose stored value the form could not show at the last fill, until edited.
    PendingSet lossyValues;
    QLabel* pendingLabel = nullptr;
    QLabel* backupLabel = nullptr;
    QPointer<QThread> firmwareUploadThread;
    QPointer<QThread> airportUploadThread;
    // Set by Cancel, or when the window is closed during an upload; the worker stops between
    // packets.
    std::atomic<bool> uploadCancel{false};
    QLabel* firmwareSummary = nullptr;
    QLabel* airportSummary = nullptr;
    QPushButton* cancelFirmwareButton = nullptr;
    QPushButton* cancelAirportButton = nullptr;
    std::function<double()> transferClock;
    TransferMeter transferMeter;
    int transferPhase = -1;
    double transferStart = 0.0;
    double stageStart = 0.0;
    uint64_t transferBytes = 0;
    // A firmware upload stopped after the bank was erased: the bank holds no whole image.
    bool firmwareIncomplete = false;
    // The user chose to stop the transfer and close: the window closes once it has ended.
    bool closeWhenStopped = false;
    // Outcome of the last upload of each kind (an upload_result_t), set by the worker.
    std::atomic<uint32_t> firmwareUploadResult{0};
    std::atomic<uint32_t> airportUploadResult{0};

    LinkWatch linkWatch;
    std::function<int64_t()> linkClock;
    QLabel* linkLabel = nullptr;
    QTimer* unitPoll = nullptr;
    DeviceEvents* deviceEvents = nullptr;
    QAction* reconnectAction = nullptr;
    QMenu* canMenu = nullptr;
    QActionGroup* canGroup = nullptr;
    QString canInterfaceName;
    QMenu* unitMenu = nullptr;
    QActionGroup* unitGroup = nullptr;
    // What the last connection attempt found.
    std::vector<FoundUnit> unitsSeen;
    // The unit chosen last (remembered), or used last in this session: chosen again when found.
    std::optional<uint32_t> unitPreferred;
    // Several units answered and none is chosen: the device actions wait for the choice.
    bool unitChoiceNeeded = false;
    // The worker of the connection attempt running, which has the comms manager meanwhile.
    QPointer<QThread> connectionThread;
    std::atomic<bool> connectionResult{false};
    bool firstAttempt = true;
    // The attempt was started by the user or at start-up, so its failure is reported.
    bool attemptAnnounced = false;
    // The link was lost: the device actions stay off until the unit is found again.
    bool unitLost = false;
    fwversion_t firmwareBeforeRestart{};
    // A restart was sent and its logbook entry waits for the unit to come back (or not); the
    // unit as it was before it.
    bool restartEntryPending = false;
    LogbookUnit unitBeforeRestart;
    // Settings taken from a file, logged as an import with the Update that sends them.
    QString importFile;
    QStringList importTaken;
    // The running upload's file, the bank the unit named and the bytes written so far (set by
    // the worker).
    QString uploadFile;
    uint32_t uploadPartition = 0;
    std::atomic<uint64_t> uploadBytesWritten{0};
    // The serial number of the unit linked last (0xFFFFFFFF before the first).
    uint32_t previousUnitSerial = 0xFFFFFFFF;
    // The last frames and log lines, for Help > Save Diagnostic Trace.
    DiagnosticTrace diagnosticTrace;
};
