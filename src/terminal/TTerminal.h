// The terminal's screen widget, which the screen buffer calls its window (the operator's terminal
// window is TFrmTerminal): a scroll area that holds the screen buffer and wires it to three
// helpers, the feed that fills it from the serial dispatcher and sends typed bytes (TerminalFeed),
// the painter of its cells and caret (TerminalPainter), and the scroll bars with the scrollback
// view (TerminalScroller). Input is its own: keys (in scrollback they browse), the mouse mark,
// focus, the clipboard, and the blink and mark timers. It is the window the buffer asks for
// repaints, scrolls and the caret (ITerminalView).
//
// The terminal control (TVaxoCustomTerminal) sits above it and drives it through the methods
// below; the window reports back through two callbacks, the status (posted, so it always
// arrives after the work that caused it; at most one a display frame, the latest, while data
// streams in) and errors. Everything runs on the GUI thread.
#pragma once

#include "terminal/ITerminalView.h"
#include "terminal/TBuffer.h"
#include "terminal/TerminalFeed.h"
#include "terminal/TerminalPainter.h"
#include "terminal/TerminalScroller.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pellwick {

class TTerminal : public QAbstractScrollArea, public ITerminalView {
    Q_OBJECT
public:
    static constexpr int DefaultColumns = 80;
    static constexpr int DefaultRows = 200;
    static constexpr int DefaultBlinkMs = 550;

    explicit TTerminal(QWidget* parent = nullptr);
    ~TTerminal() override;

    // The byte a key press sends to the device, or -1 for keys that send none.
    static int KeyByte(const QKeyEvent* e);

    TBuffer& Buffer() { return *buffer_; }
    const TBuffer& Buffer() const { return *buffer_; }
    // The received bytes' way into the buffer and the typed ones' way out.
    TerminalFeed& Feed() { return *feed_; }
    const TerminalFeed& Feed() const { return *feed_; }

    // --- Operations of the control -----------------------------------------------------------
    void Clear(bool all);
    int ResizeBuffer(int pageHeight, int rows, int columns);
    void SetDefaultColors(std::uint8_t foreground, std::uint8_t background);
    void SetMarkColors(std::uint8_t foreground, std::uint8_t background);
    void SetPalette(const TBuffer::Palette& palette);
    void ToggleScrollback();
    bool Scrollback() const { return scroller_->Scrollback(); }
    void RefreshBuffer() { buffer_->Refresh(); }
    void SetBlinkTime(int milliseconds);
    int BlinkTime() const { return blinkTimer_.interval(); }
    void SetPersistentMark(bool on);
    bool PersistentMark() const { return persistentMark_; }
    void SetWantTabs(bool on) { wantTabs_ = on; }
    // Refuses (false, nothing changed) a font whose glyphs are not all of one width. The view
    // follows the cursor into the new cell count, and a status notification reports it.
    bool SetTerminalFont(const QFont& font);
    const QFont& TerminalFont() const { return painter_->Font(); }
    // Marked text to the clipboard; false when nothing was copied.
    bool CopyMark() { return buffer_->CopyMark(); }
    // Permanent bars always show; auto bars show while the window is smaller than the page.
    void SetScrollBarModes(bool permanentH, bool permanentV, bool autoH, bool autoV);
    // The outer size at which the client area holds exactly columns x rows cells.
    QSize SizeForCells(int columns, int rows) const;
    // Client-area pixels around which the frame and the permanent scroll bars sit.
    QSize FrameExtra() const;

    // Rows one notch of the mouse wheel moves the view.
    static constexpr int WheelRows = 3;
    // The scrollback the wheel opened: it ends at the bottom of the history or on a typed key.
    bool WheelScrollback() const { return wheelScrollback_; }
    // Who switches scrollback when the wheel or a key asks (the control, which keeps its own
    // state around it); none: the window toggles it itself.
    void SetScrollbackRequest(std::function<void(bool on)> request) {
        scrollbackRequest_ = std::move(request);
    }
    // A middle click asks for this text to be pasted: the marked text, from the X11 primary
    // selection where the platform has one, else from the last mark made here.
    void SetMiddlePaste(std::function<void(const QString&)> paste) {
        middlePaste_ = std::move(paste);
    }

    using StatusHandler = std::function<void(std::uint32_t first, std::uint32_t second)>;
    using ErrorHandler = std::function<void(int code)>;
    void SetStatusHandler(StatusHandler handler) { onStatus_ = std::move(handler); }
    void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

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

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    void Tick();
    void SendTypedByte(std::uint8_t b);
    void RequestScrollback(bool on);
    // At the newest rows of the history: where the live view stands.
    bool ViewAtBottom() const;
    // The finished mark becomes the primary selection.
    void OfferSelection();
    // False when the client area kept its size.
    bool ApplyClientSize();
    void ApplyFont(const QFont& font);
    // Hands the latest status to the handler, unless it was handed already.
    void ReportStatus();

    std::unique_ptr<TBuffer> buffer_;
    std::unique_ptr<TerminalFeed> feed_;
    std::unique_ptr<TerminalPainter> painter_;
    std::unique_ptr<TerminalScroller> scroller_;
    bool persistentMark_ = false;
    bool wantTabs_ = true;

    QTimer blinkTimer_;
    QTimer markTimer_;
    // The status waiting to be reported (first, second of PostStatus). A report is posted, or
    // statusHold_ runs after one: the next waits for it.
    std::uint32_t statusFirst_ = 0;
    std::uint32_t statusSecond_ = 0;
    bool statusWaiting_ = false;
    bool statusPosted_ = false;
    QTimer statusHold_;
    StatusHandler onStatus_;
    ErrorHandler onError_;
    std::function<void(bool)> scrollbackRequest_;
    std::function<void(const QString&)> middlePaste_;
    bool wheelScrollback_ = false;
    int wheelAngle_ = 0; // eighths of a degree not yet turned into rows
    QString selection_;  // the last mark, where the platform keeps no primary selection
};

} // namespace pellwick
