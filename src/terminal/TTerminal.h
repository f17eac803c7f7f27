// The terminal's window: a scroll area that owns the screen buffer, paints its visible cells in
// a fixed-pitch font, shows a caret, marks text with the mouse, fetches received bytes from the
// serial dispatcher and sends typed ones to it. The terminal control (TVaxoCustomTerminal) sits
// above it and drives it through the methods below; the window reports back through two
// callbacks, the status (posted, so it always arrives after the work that caused it) and errors.
//
// Everything runs on the GUI thread. PostNotification is the one entry point called from the
// dispatch worker: it only posts an event to the window.
#pragma once

#include "serial/NotificationWindow.h"
#include "terminal/HexFormatter.h"
#include "terminal/ITerminalView.h"
#include "terminal/LineEnds.h"
#include "terminal/TBuffer.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QList>
#include <QRawFont>
#include <QRegion>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace pellwick {

class TVaxoBaseDispatcher;

class TTerminal : public QAbstractScrollArea, public ITerminalView, public INotificationWindow {
    Q_OBJECT
public:
    static constexpr int DefaultColumns = 80;
    static constexpr int DefaultRows = 200;
    static constexpr int DefaultBlinkMs = 550;
    // Bytes read at once when scrollback ends: the whole input ring.
    static constexpr int CatchUpCount = 8192;
    // Shortest time between two repaints of received data (about one display frame).
    static constexpr int PaintIntervalMs = 15;

    explicit TTerminal(QWidget* parent = nullptr);
    ~TTerminal() override;

    // The byte a key press sends to the device, or -1 for keys that send none.
    static int KeyByte(const QKeyEvent* e);

    TBuffer& Buffer() { return *buffer_; }
    const TBuffer& Buffer() const { return *buffer_; }

    // --- Dispatcher ------------------------------------------------------------------------
    // Takes the dispatcher registered under this port handle (none when the handle is unknown).
    void TakeDispatcher(int portHandle);
    // Registers the window for the dispatcher's notifications, availability threshold 1 byte.
    // False when there is no dispatcher.
    bool Attach();
    void Detach();
    // Detaches and forgets the dispatcher (the port is closing).
    void ForgetDispatcher();
    TVaxoBaseDispatcher* Dispatcher() const { return dispatcher_; }
    bool Attached() const { return attached_; }

    // --- Operations of the control -----------------------------------------------------------
    void Clear(bool all);
    int ResizeBuffer(int pageHeight, int rows, int columns);
    void SetDefaultColors(std::uint8_t foreground, std::uint8_t background);
    void SetMarkColors(std::uint8_t foreground, std::uint8_t background);
    void SetPalette(const TBuffer::Palette& palette);
    void ToggleScrollback();
    bool Scrollback() const { return scrollback_; }
    void RefreshBuffer() { buffer_->Refresh(); }
    void SetBlinkTime(int milliseconds);
    int BlinkTime() const { return blinkTimer_.interval(); }
    void SetPersistentMark(bool on);
    bool PersistentMark() const { return persistentMark_; }
    void SetHalfDuplex(bool on) { halfDuplex_ = on; }
    bool HalfDuplex() const { return halfDuplex_; }
    void SetWantTabs(bool on) { wantTabs_ = on; }
    // Received bytes as hex lines (HexFormatter) instead of text. Switching starts a new line.
    void SetHexView(bool on);
    bool HexView() const { return hexView_; }
    // What Enter sends and which received line ends are widened for display (text view).
    void SetLineEnds(const LineEndMapping& mapping) { lineEnds_ = mapping; }
    const LineEndMapping& LineEnds() const { return lineEnds_; }
    // Queues bytes for the device (echoed when HalfDuplex is on). False, with nothing sent,
    // without a dispatcher or when its output ring has no room for all of them.
    bool SendBytes(std::span<const std::uint8_t> bytes);
    // Told of every received byte, as it came from the line, before it is shown.
    using ReceiveObserver = std::function<void(std::span<const std::uint8_t> bytes)>;
    void SetReceiveObserver(ReceiveObserver observer) { onReceive_ = std::move(observer); }
    // Refuses (false, nothing changed) a font whose glyphs are not all of one width. The view
    // follows the cursor into the new cell count, and a status notification reports it.
    bool SetTerminalFont(const QFont& font);
    const QFont& TerminalFont() const { return font_; }
    // Marked text to the clipboard; false when nothing was copied.
    bool CopyMark() { return buffer_->CopyMark(); }
    // Permanent bars always show; auto bars show while the window is smaller than the page.
    void SetScrollBarModes(bool permanentH, bool permanentV, bool autoH, bool autoV);
    // The outer size at which the client area holds exactly columns x rows cells.
    QSize SizeForCells(int columns, int rows) const;
    // Client-area pixels around which the frame and the permanent scroll bars sit.
    QSize FrameExtra() const;

    using StatusHandler = std::function<void(std::uint32_t first, std::uint32_t second)>;
    using ErrorHandler = std::function<void(int code)>;
    void SetStatusHandler(StatusHandler handler) { onStatus_ = std::move(handler); }
    void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

    // The received-data notification as handled on the GUI thread: n bytes wait.
    void HandleAvail(int count);

    // --- ITerminalView -----------------------------------------------------------------------
    void InvalidateRect(const PixelRect& rect, bool erase) override;
    void InvalidateAll() override;
    void UpdateWindow() override;
    void ScrollContent(int dx, int dy, const PixelRect& clip) override;
    void SetScrollRange(ScrollBar bar, int minimum, int maximum) override;
    void SetScrollPos(ScrollBar bar, int position) override;
    void MoveCaret(int x, int y) override;
    void PostStatus(std::uint32_t first, std::uint32_t second) override;
    void ReportError(int code) override;
    bool StartMarkTimer(int milliseconds) override;
    void StopMarkTimer() override;
    void CaptureMouse() override;
    void ReleaseMouse() override;
    PixelPoint PointerPosition() const override;
    bool SetClipboardText(const std::string& text) override;

    // --- INotificationWindow (called from the dispatch worker) -------------------------------
    void PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                          std::shared_ptr<DeliveryToken> token) override;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    void Tick();
    void SendTypedByte(std::uint8_t b);
    // Received (or echoed) bytes onto the screen, as the view shows them.
    void Show(std::span<const std::uint8_t> bytes);
    bool ScrollbackKey(int key);
    void EnterScrollback();
    void LeaveScrollback();
    // False when the client area kept its size.
    bool ApplyClientSize();
    void FollowVisibleChange(int oldRows, int oldColumns);
    void ApplyFont(const QFont& font);
    void ResetScrollRanges();
    void OnScrollAction(ScrollBar bar, int action);
    QScrollBar* Bar(ScrollBar bar) const;
    QRect CaretRect() const;
    void SchedulePaint(const QRect& rect);
    void FlushPaint();
    void PrepareGlyphs();

    std::unique_ptr<TBuffer> buffer_;
    QFont font_;
    TVaxoBaseDispatcher* dispatcher_ = nullptr;
    bool attached_ = false;
    bool scrollback_ = false;
    bool inputPending_ = false; // data arrived during scrollback
    bool permanentH_ = false;
    bool permanentV_ = false;
    bool autoH_ = false;
    bool autoV_ = false;
    bool caretShown_ = false;
    bool persistentMark_ = false;
    bool halfDuplex_ = false;
    bool wantTabs_ = true;
    bool hexView_ = false;
    HexFormatter hex_;
    LineEndMapping lineEnds_;
    std::string shown_; // scratch for the bytes the screen is given
    ReceiveObserver onReceive_;
    QPoint caretPos_; // pixels

    // Kept on entering scrollback, used on leaving it.
    bool fullPageOnEntry_ = false;
    QSize clientOnEntry_;
    int savedVMin_ = 0;
    int savedVMax_ = 0;
    int savedVPos_ = 0;

    QRegion pendingPaint_;
    QTimer paintTimer_;
    // Glyph of each byte value in the cell font; 0 where the font has none.
    QRawFont rawFont_;
    QList<quint32> glyphIndexes_;
    QTimer blinkTimer_;
    QTimer markTimer_;
    StatusHandler onStatus_;
    ErrorHandler onError_;
};

} // namespace pellwick
