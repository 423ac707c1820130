// The main window Form1: every control, menu, timer and piece of shared state of the program.
// Its handlers are defined by the subsystem that owns them:
//   gui/main_window.cpp       construction, start-up, shut-down, About
//   gui/port_menu.cpp         the Com Port menu and comsetting.ini
//   gui/serial_link.cpp       connect/disconnect, poll, watchdog, menu refresh timer
//   gui/receive_handler.cpp   the receive handler
//   gui/monitoring.cpp        the live display and the correction pause
//   gui/settings_editor.cpp   the editing rules of the calibration boxes
//   gui/settings_transfer.cpp load from / save to the device
//   gui/file_operations.cpp   .cal files
//   gui/history_recording.cpp the calibration history: recording exchanges, Tools > Calibration History
//   gui/certificate_window.cpp Tools > Laboratory Details… and Calibration Certificate…
// The rules they apply without the window are in core/, the bytes on the wire in protocol/.
#pragma once

#include "core/calibration/calibration_file.h"
#include "core/device/device_session.h"
#include "core/platform/port_map.h"
#include "core/readings/frame_feed.h"
#include "core/record/history_store.h"
#include "gui/platform.h"
#include "gui/window_helpers.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QMenu;

namespace kv {

class AboutDialog;
class CorrectionMapTool;
class MqttTool;
class HistoryWindow;
class TrendTools;

// A text box: a QLineEdit that reports losing the focus.
class TextBox : public QLineEdit {
    Q_OBJECT
  public:
    using QLineEdit::QLineEdit;
    std::function<void()> onLostFocus;

  protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// A push button whose caption wraps onto a second line when it is wider than the button.
class WrappingButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// Background colours, given as the 0x00BBGGRR values the device's tooling has always used.
QColor colorFromBgr(std::uint32_t bgr);
inline constexpr std::uint32_t kAxisNormal = 0xE0E0E0;
inline constexpr std::uint32_t kAxisDiffering = 0x8080FF;
inline constexpr std::uint32_t kCellDiffering = 0xC0C0FF;

class Form1 : public QMainWindow {
    Q_OBJECT
  public:
    // Builds the window and runs Form_Load; the caller shows it.
    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    Platform& platform() { return platform_; }

    // ---- application shell -------------------------------------------------------------------
    void Form_Load();
    void Form_Unload();
    void Exit_Click();
    void stopTimers();
    void About_Click();
    void UnloadAllForms(const QString& keepName);

    bool PortExists(int portNumber);
    void RefreshPortMenu();
    // Tells why port n is absent although its device is there (problem, from the platform): printed
    // once per device, and returned for the tool tip.
    QString explainPortProblem(int portNumber, const QString& problem);
    void comp_Click(int portNumber);  // the handler of the menu item "Com n"
    void readSavedPort();
    void writeSavedPort();

    // ---- device link -------------------------------------------------------------------------
    void Command1_Click();
    void linkLost();  // the poll (Timer1) could not write its request
    void Timer3_Timer();
    void Timer4_Timer();
    void MSComm1_OnComm();
    void showMonitoringValue(int field, float value);    // the display step for field 0..5
    void showText(QLineEdit* box, const QString& text);  // a monitoring box's text, when it differs
    void Text9_Change();
    void Command11_Click();

    // ---- calibration editor ------------------------------------------------------------------
    void Col_Change(int index);
    void Row_Change(int index);
    void Matrix_Change(int index);
    void Col_KeyPress(int index, int keyAscii);
    void Row_KeyPress(int index, int keyAscii);
    void Matrix_KeyPress(int index, int keyAscii);
    void Col_LostFocus(int index);
    void Row_LostFocus(int index);
    void Matrix_LostFocus(int index);
    void Text7_Change();
    void Text8_Change();
    void Command6_Click();   // Toggle
    void Command7_Click();   // delay +
    void Command8_Click();   // delay -
    void Command13_Click();  // table +
    void Command12_Click();  // table -

    // ---- settings transfer and files ---------------------------------------------------------
    void Command2_Click();  // Load Settings from KestroVar
    void Command5_Click();  // Save Settings to KestroVar
    void Timer2_Timer();
    // meanwhile runs once the wait's timer is running, so that what it does adds nothing to the
    // wait unless it takes longer than the wait itself.
    void settleWait(const std::function<void()>& meanwhile = {});
    void Command9_Click();   // Save Settings to File
    void Command10_Click();  // Load Settings from File
    // Ends a transfer whose port could not be opened or written: link down, buttons back, message.
    void abandonTransfer();
    // For the length of a device transfer nothing may start another exchange, change the port or
    // the boxes: the Com Port menu, the transfer, link, file and editor buttons are disabled and the
    // editor boxes read-only. endTransfer puts every one back as it was, focus included.
    void beginTransfer();
    void endTransfer();
    bool transferring() const { return transferLock_.active; }
    bool transferPortReady();
    bool transferWrite(std::uint8_t byte);
    // The 43 editor texts as they stand.
    CalibrationTexts editorTexts() const;
    // Puts a .cal file's bytes into the editor as Load Settings from File does.
    void loadCalibrationFile(const QByteArray& content);

    // ---- calibration history -----------------------------------------------------------------
    void CalibrationHistory_Click();  // Tools > Calibration History...
    HistoryStore& historyStore() { return history_; }
    void setHistoryDirectory(const QString& location);  // a folder or a postgresql:// URI
    // Tools > Unit Under Calibration...: the tag every record carries until the link goes down.
    void UnitUnderCalibration_Click();
    void setUnitTag(const QString& tag);
    const QString& unitTag() const { return unitTag_; }
    // The device copies as texts: what the last settings image or save left in the device.
    CalibrationTexts deviceTexts() const;
    // A record is kept as soon as what it holds has crossed the line: a Save's sent record before
    // the read-back is asked for, its read-back before the result is shown. Whether a record could
    // not be kept is said once the exchange is over, after its own message (sayRecordProblem).
    void recordLoad(bool imageArrived);
    void recordSaveSent(const CalibrationTexts& sent, const QString& result);
    void recordSaveReadBack(bool verified);
    void sayRecordProblem(const QString& exchange);

    // ---- background colours of the editor boxes ---------------------------------------------
    static QColor backColor(const QLineEdit* box);
    static void setBackColor(QLineEdit* box, const QColor& color);
    QColor windowBackground() const;

    // ---- controls ----------------------------------------------------------------------------
    QLabel* Label1{};
    QLabel* Label2{};
    QLabel* Label3{};
    QLabel* Label4{};
    QLabel* Label5{};
    QLabel* Label6{};
    QLabel* Label7{};
    QLabel* Label8{};
    QLabel* Label9{};
    QLabel* Label10{};
    QLabel* Label11{};
    QLabel* Label12{};
    QLabel* Label15{};
    TextBox* Text1{};
    TextBox* Text2{};
    TextBox* Text3{};
    TextBox* Text4{};
    TextBox* Text5{};
    TextBox* Text6{};
    TextBox* Text7{};
    TextBox* Text8{};
    TextBox* Text9{};
    QPushButton* Command1{};
    QPushButton* Command2{};
    QPushButton* Command5{};
    QPushButton* Command6{};
    QPushButton* Command7{};
    QPushButton* Command8{};
    QPushButton* Command9{};
    QPushButton* Command10{};
    QPushButton* Command11{};
    QPushButton* Command12{};
    QPushButton* Command13{};
    std::array<TextBox*, 5> Col{};
    std::array<TextBox*, 6> Row{};
    std::array<TextBox*, 30> Matrix{};
    QWidget* Image1{};
    QLabel* Image2{};
    QWidget* Line1{};
    QWidget* Line2{};
    QWidget* Line3{};

    QMenu* File{};
    QAction* Exit{};
    QMenu* comp{};
    QAction* Com{};
    std::array<QAction*, 17> compItems{};  // index 1..16: "Com 1".."Com 16"; index 0 unused
    QMenu* Tools{};
    TrendTools* trendTools{};            // Trend Chart, Record Readings to CSV…, Open Recording…
    CorrectionMapTool* correctionMap{};  // Correction Map
    MqttTool* mqttTool{};                // Publish to MQTT…
    // Told the id of every record the history has just kept (the MQTT publisher listens).
    std::function<void(const QString& id)> onRecordKept;
    QMenu* Help{};
    QAction* About{};
    QAction* CalibrationHistory{};
    QAction* UnitUnderCalibration{};
    QLabel* unitCorner{};  // the unit's tag in the menu bar's corner, hidden while none is set

    // The device session runs the exchanges with the device; the window's serial control, poll
    // timer and watchdog are its own.
    std::unique_ptr<DeviceSession> session;
    IntervalTimer* Timer1{};  // the poll: session->poll()
    std::unique_ptr<IntervalTimer> Timer2;
    std::unique_ptr<IntervalTimer> Timer3;
    IntervalTimer* Timer4{};   // the watchdog: session->watchdog()
    SerialControl* MSComm1{};  // session->serial()
    QPointer<AboutDialog> frmAbout;
    QPointer<HistoryWindow> frmHistory;

    // ---- window-level state ------------------------------------------------------------------
    std::uint8_t selectedPort = 0;
    TaggedValue savedPort;
    std::uint8_t rxMode = 0;
    std::array<float, 6> monitoringSample{};
    std::array<QString, 5> colLastGood;
    std::array<QString, 6> rowLastGood;
    std::array<QString, 30> matrixLastGood;
    std::array<QString, 5> colDevice;
    std::array<QString, 6> rowDevice;
    std::array<QString, 30> matrixDevice;
    float delayDevice = 255.0f;
    QString activeDevice;
    std::array<QString, 5> colSent;
    std::array<QString, 6> rowSent;
    std::array<QString, 30> matrixSent;
    QString activeSent;
    float delaySent = 0.0f;
    // Every monitoring frame the window receives, for the chart and the recorder.
    FrameFeed* frameFeed{};  // the session's feed

  Q_SIGNALS:
    // A device transfer began or ended: other windows close or open their ways into the editor.
    void transferChanged(bool active);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // What beginTransfer changed, to be put back by endTransfer.
    struct TransferLock {
        bool active = false;
        bool comPortMenu = true;
        std::vector<std::pair<QWidget*, bool>> enabled;
        std::vector<std::pair<QLineEdit*, bool>> readOnly;
        QPointer<QWidget> focus;  // the clicked button, kept out of the disabling's focus chain
    };

    void buildControls();
    void buildMenus();
    void connectHandlers();
    void setTabOrder();
    void buildHistoryMenu();
    void keepRecord(const HistoryEntry& entry);
    void loadFromDevice();
    void saveToDevice();
    // A close or File > Exit asked for during a transfer, run once the transfer is over.
    void shutDownIfAsked();
    HistoryEntry historyEntry(const QString& operation, const QString& result,
                              const CalibrationTexts& values) const;

    Platform& platform_;
    std::set<QString> portNoticesGiven_;  // devices whose problem has been printed in this run
    bool ended_ = false;                  // File > Exit or the close box has run its shut-down
    bool watchdogMessageOpen_ = false;    // "Connection to KestroVar Failed" is on screen
    TransferLock transferLock_;
    enum class ShutDown { None, Close, Exit };
    ShutDown shutDownAsked_ = ShutDown::None;  // during a transfer, which lets it finish first
    QString recordProblem_;                    // why a record of the running exchange was not kept
    QStringList recordsLost_;                  // the operations of its records that were not kept
    int recordsKept_ = 0;                      // and how many of its records were
    HistoryStore history_{HistoryStore::defaultLocation()};
    QString unitTag_;
};

}  // namespace kv
