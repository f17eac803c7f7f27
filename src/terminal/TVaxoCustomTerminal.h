// The terminal control: a teletype on a serial port. It holds the screen widget (TTerminal),
// keeps the published settings with their rules, links the window's feed to the port's
// dispatcher while it is active, and turns the window's reports into the events
// OnTerminalStatus and OnTerminalError.
//
// Activation: Active := True needs a port component (-1005 otherwise); while the port has no
// dispatcher the activation waits (pending) and happens when the port opens. The control learns
// of the port's opening and closing as a window registered with the port (PortNotifyEvent).
//
// GUI thread only. Setters raise the serial engine's exceptions (ErrorToException).
#pragma once

#include "serial/TVaxoCustomComPort.h"
#include "terminal/LineEnds.h"
#include "terminal/PastePacer.h"
#include "terminal/TBuffer.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace pellwick {

class TTerminal;

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TAutoScroll { asNone, asHorizontal, asVertical, asBoth };
enum TIntegralSize { isNone, isWidth, isHeight, isBoth };

class TVaxoCustomTerminal;
using TTerminalStatusEvent =
    std::function<void(TVaxoCustomTerminal& CP, std::uint8_t Row, std::uint8_t Col,
                       std::uint16_t BufRow, std::uint16_t BufCol)>;
using TTerminalErrorEvent = std::function<void(TVaxoCustomTerminal& CP, std::uint16_t ErrorCode)>;

class TVaxoCustomTerminal : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxCells = 65535;

    explicit TVaxoCustomTerminal(QWidget* parent = nullptr);
    ~TVaxoCustomTerminal() override;

    // Called by the owner once it has set the properties: takes the owner's first port
    // component when none is set, activates when Active was asked for, and clears the screen.
    void Loaded();

    TVaxoCustomComPort* ComPort() const { return port_; }
    void SetComPort(TVaxoCustomComPort* port);

    // True while attached to the port's dispatcher.
    bool Active() const { return active_; }
    void SetActive(bool on);
    // Activation asked for but not possible yet (the port has no dispatcher).
    bool ActivationPending() const { return pending_; }

    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle style);
    TAutoScroll AutoScroll() const { return autoScroll_; }
    void SetAutoScroll(TAutoScroll style);
    TIntegralSize IntegralSize() const { return integralSize_; }
    void SetIntegralSize(TIntegralSize mode);

    bool Scrollback() const;
    void SetScrollback(bool on);

    int Rows() const { return rows_; }
    void SetRows(int n);
    int Columns() const { return columns_; }
    void SetColumns(int n);
    int PageHeight() const { return pageHeight_; }
    void SetPageHeight(int n);
    // Rows and columns the client area shows.
    int DisplayRows() const;
    void SetDisplayRows(int n);
    int DisplayColumns() const;
    void SetDisplayColumns(int n);

    bool WantTabs() const { return wantTabs_; }
    void SetWantTabs(bool on);
    int BlinkTime() const { return blinkTime_; }
    void SetBlinkTime(int milliseconds);
    bool PersistentMark() const { return persistentMark_; }
    void SetPersistentMark(bool on);
    bool HalfDuplex() const { return halfDuplex_; }
    void SetHalfDuplex(bool on);
    bool HexView() const;
    void SetHexView(bool on);
    const LineEndMapping& LineEnds() const;
    void SetLineEnds(const LineEndMapping& mapping);
    // Told of every received byte before it is shown (a capture file takes them here).
    void SetOnReceived(std::function<void(std::span<const std::uint8_t>)> observer);
    // Told of every byte sent to the device (typed, pasted or from a file).
    void SetOnSent(std::function<void(std::span<const std::uint8_t>)> observer);
    // A line of the terminal's own on the screen, on a line of its own ("-- connected --").
    void ShowNote(std::string_view text);

    // Sends bytes to the device at the line's rate (PastePacer) and the pacing asked for, on a
    // timer, so that the event loop keeps running. False, with nothing started, while the
    // terminal is not active (no open port, or an upload has the line) or a paste is running.
    // Deactivation ends it. onProgress is told after each step and once at the end.
    struct PasteState {
        std::size_t sent;  // bytes handed to the port
        std::size_t total; // bytes in all
        bool ended;        // finished, stopped, or the port went away
        bool promptMissed; // ended because the device's prompt did not come in time
        std::size_t lines; // lines sent completely (when lines are paced)
    };
    using PasteProgress = std::function<void(const PasteState&)>;
    bool StartPaste(std::string bytes, PasteProgress onProgress, const PastePacing& pacing = {});
    void StopPaste();
    bool Pasting() const { return paste_ != nullptr; }
    // How often a running paste hands the next bytes to the port.
    static constexpr int PasteTickMs = 10;

    // Background colour; becomes the default background.
    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    // The cell font (fixed pitch only: any other falls back to the system's fixed font) and
    // its colour, which becomes the default foreground.
    QFont Font() const { return font_; }
    void SetFont(const QFont& font);
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& color);

    const TTerminalStatusEvent& OnTerminalStatus() const { return onStatus_; }
    void SetOnTerminalStatus(TTerminalStatusEvent e) { onStatus_ = std::move(e); }
    const TTerminalErrorEvent& OnTerminalError() const { return onError_; }
    void SetOnTerminalError(TTerminalErrorEvent e) { onError_ = std::move(e); }

    // Blanks the whole buffer and homes cursor and view.
    void Clear();
    // The marked text to the clipboard.
    void CopyToClipboard();
    // Attaches to the port's dispatcher; raises when there is none.
    void AttachPort();
    void DetachPort();
    void SetDefaultColors(std::uint8_t foreground, std::uint8_t background);

    TTerminal& Window() { return *term_; }
    const TBuffer& Buffer() const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // The attach steps without raising: 0, or the error number.
    int TryAttach();
    void ApplyBufferSize(int rows, int columns, int pageHeight);
    void ApplyColors();
    void ApplyScrollBarModes();
    void FitWindow();
    void SizeToCells(int columns, int rows);
    void OnWindowStatus(std::uint32_t first, std::uint32_t second);
    void PasteTick();
    void EndPaste();

    TTerminal* term_ = nullptr;
    QPointer<TVaxoCustomComPort> port_;
    bool active_ = false;
    bool pending_ = true; // Active starts True: it takes effect once the port can be used
    TScrollStyle scrollBars_ = ssNone;
    TAutoScroll autoScroll_ = asNone;
    TIntegralSize integralSize_ = isBoth;
    int rows_ = 200;
    int columns_ = 80;
    int pageHeight_ = 25;
    int displayRows_ = 15;
    int displayColumns_ = 40;
    bool wantTabs_ = true;
    int blinkTime_ = 550;
    bool persistentMark_ = true;
    bool halfDuplex_ = false;
    QColor color_{Qt::black};
    QFont font_;
    QColor fontColor_{0xC0, 0xC0, 0xC0};
    TTerminalStatusEvent onStatus_;
    TTerminalErrorEvent onError_;
    std::unique_ptr<PastePacer> paste_;
    PasteProgress pasteProgress_;
    std::function<void(std::span<const std::uint8_t>)> onReceived_;
    QTimer pasteTimer_;
    // Kept on entering scrollback: whether all columns were shown, and the width then.
    bool allColumnsOnEntry_ = false;
    int widthOnEntry_ = 0;
};

} // namespace pellwick
