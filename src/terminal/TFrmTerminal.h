// The terminal window the operator opens (a "form": a top-level QMainWindow): one terminal control
// on the settings window's serial port, a row of status lights for the port's lines, a status line
// with the port settings, the cursor position and what runs (paste, capture, file, line actions),
// and the menus: clear, scroll back, exit, capture and sending a file; copy, paste and its
// pacing; font; the hex view, local echo and line ends; break, DTR and RTS. Every item has a key:
// Ctrl with a letter belongs to the device, so the window's own keys are Ctrl+Shift ones. The
// text area has a context menu (copy, paste, clear, hex); a mark becomes the primary selection,
// which a middle click pastes. A lost and a returned port each leave a line on the screen.
//
// While the form is shown the terminal owns the received bytes: showing it switches the host's
// data trigger off and activates the terminal and the lights; closing hands the port back.
// The form is created once and then only hidden and shown.
#pragma once

#include "terminal/CaptureWriter.h"
#include "terminal/TerminalSettings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <array>
#include <string>

class QAction;
class QFontDialog;
class QHeaderView;
class QPoint;
class QStandardItemModel;
class QTimer;
class QWidget;

namespace pellwick {

class IMessageBoxes;
class ITerminalHost;
class TVaxoCustomComPort;
class TVaxoStatusLight;
class TVaxoTerminal;
class TVaxoSLController;

class TFrmTerminal : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int HelpContext = 110;

    // port: the settings window's port (the form never owns it); host: the settings window
    // (may be none).
    TFrmTerminal(TVaxoCustomComPort* port, ITerminalHost* host, QWidget* parent = nullptr);
    ~TFrmTerminal() override;

    TVaxoTerminal& Terminal() { return *terminal_; }
    TVaxoSLController& LightController() { return *lights_; }
    // " COM1 8N1 19200" for the port's settings; empty without a port.
    static QString PortSettingsText(const TVaxoCustomComPort* port);
    // The text of status line section 0 or 1.
    QString StatusText(int section) const;
    int StatusSectionWidth(int section) const;
    QAction* ScrollBackAction() const { return actScrollBack_; }
    // Beeps given for keys refused while the port's device is away (one each loss).
    int RefusedKeyBeeps() const { return refusedBeeps_; }

    // Where failures are reported; none: the application's standard display of errors.
    void SetMessageBoxes(IMessageBoxes* boxes) { boxes_ = boxes; }
    // Reads the terminal's settings from [Terminal] of this loader.ini (font, local echo, line
    // ends), applies them and writes later changes back there.
    void SetSettingsFile(const std::string& path);
    const TerminalSettings& Settings() const { return settings_; }

    // Every received byte (and, when chosen, every sent one) to the file from now on, appending
    // when chosen; a file that cannot be opened is reported.
    bool StartCapture(const QString& path, CaptureWriter::Mode mode);
    // The file's bytes to the device as they are, paced as pastes are; Esc stops.
    bool SendFile(const QString& path);
    // Text to the device as a paste: line ends become the send line end, paced.
    void PasteText(const QString& text);
    // Files larger than this are refused by SendFile.
    static constexpr qint64 MaxSendFileBytes = 64 * 1024 * 1024;
    // How long a line action's note and the break lamp stay.
    static constexpr int LineNoteMs = 5000;
    static constexpr int BreakLampMs = 500;
    bool Capturing() const { return capture_.IsOpen(); }
    // How long a break waits at most for the bytes queued before it to leave.
    static constexpr int BreakDrainMs = 2000;

public slots:
    // Window activation: the port settings go to the status line.
    void FormActivate();
    void ClearTerminal();
    void ToggleScrollBackItem();
    void CopyMarked();
    void ChooseFont();
    // The clipboard's text to the device, paced (Esc stops it).
    void PasteClipboard();
    void ChoosePacing();
    void ChooseSendFile();
    void SetCaptureSent(bool on);
    void SetCaptureAppend(bool on);
    void ChooseCaptureFile();
    void StopCapture();
    void SetHexView(bool on);
    void SetLocalEcho(bool on);
    void SetLineEnds(const LineEndMapping& mapping);
    // Waits for the output queued before it, then a 250 ms break.
    void SendBreak();
    void SetDtr(bool on);
    void SetRts(bool on);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    // Sizes the form so that the terminal shows exactly its display rows and columns.
    void SnapToCells();
    // Moves the window, and shrinks it by whole rows if need be, so that it fits its screen.
    void KeepOnScreen();
    static constexpr int TitleAllowance = 32;
    void BuildViewMenu();
    void BuildLineMenu();
    // Check marks and enabled states of the line menu from the port.
    void UpdateLineItems();
    // Switches the control line named line (DTR or RTS) through the host where there is one,
    // else on the port; notes it, or reports why it failed.
    void SetControlLine(const char* line, bool on, void (ITerminalHost::*viaHost)(bool),
                        void (TVaxoCustomComPort::*onPort)(bool));
    void UpdateViewItems();
    void UpdateCaptureItems();
    void UpdateLamps();
    // What a line action did, in the status line for LineNoteMs.
    void NoteLineAction(const QString& text);
    void ShowContextMenu(const QPoint& at);
    // Starts a paced send; the status line names it while it runs (`doing`: "Pasting") and
    // when it ended early (`what`: "Paste").
    bool StartSending(std::string bytes, const QString& doing, const QString& what);
    void BreakWhenDrained();
    void CaptureFailed();
    void ShowActivity();
    void SaveSettings();
    // An error box with this text (lines separated by CR).
    void Report(const std::string& text);
    QWidget* BuildLights();
    void SetStatusText(int section, const QString& text);
    // The create handler's reopening of the port.
    void ReopenPort();
    static void PortOpenedOrClosing(void* context, TVaxoCustomComPort* port, bool opening);

    TVaxoCustomComPort* port_;
    ITerminalHost* host_;
    TVaxoTerminal* terminal_ = nullptr;
    TVaxoSLController* lights_ = nullptr;
    QHeaderView* statusLine_ = nullptr;
    QStandardItemModel* statusModel_ = nullptr;
    QFontDialog* fontDialog_ = nullptr;
    QAction* actScrollBack_ = nullptr;
    QAction* actClear_ = nullptr;
    QAction* actCopy_ = nullptr;
    QAction* actPaste_ = nullptr;
    QAction* actPacing_ = nullptr;
    QAction* actSendFile_ = nullptr;
    QAction* actCaptureSent_ = nullptr;
    QAction* actCaptureAppend_ = nullptr;
    QAction* actCapture_ = nullptr;
    QAction* actStopCapture_ = nullptr;
    QAction* actHex_ = nullptr;
    QAction* actEcho_ = nullptr;
    std::array<QAction*, 3> actSendEnd_{}; // CR, LF, CR LF
    QAction* actReceiveCr_ = nullptr;
    QAction* actReceiveLf_ = nullptr;
    QAction* actBreak_ = nullptr;
    QAction* actDtr_ = nullptr;
    QAction* actRts_ = nullptr;

    IMessageBoxes* boxes_ = nullptr;
    std::string settingsPath_;
    TerminalSettings settings_;
    CaptureWriter capture_;
    QString pasteStatus_;
    QString lineNote_;
    QTimer* lineNoteTimer_ = nullptr;
    QTimer* breakLampTimer_ = nullptr;
    TVaxoStatusLight* breakLamp_ = nullptr;
    TVaxoStatusLight* dtrLamp_ = nullptr;
    TVaxoStatusLight* rtsLamp_ = nullptr;
    bool lossShown_ = false; // the screen says the port is disconnected
    bool breakWaiting_ = false;
    QElapsedTimer breakSince_;
    bool beeped_ = false;
    int refusedBeeps_ = 0;
};

} // namespace pellwick
