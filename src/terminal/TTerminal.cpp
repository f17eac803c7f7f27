#include "terminal/TTerminal.h"
#include "terminal/TerminalFont.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace pellwick {

namespace {

class StatusEvent : public QEvent {
public:
    static QEvent::Type Type() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    StatusEvent() : QEvent(Type()) {}
};

QRect ToQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The byte a key press produces for the device, or -1 for keys that produce none (cursor and
// function keys).
int TypedByte(const QKeyEvent* e) {
    // Control with a letter is the control byte, whatever text the platform attached.
    if ((e->modifiers() & Qt::ControlModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z) {
        return e->key() - Qt::Key_A + 1;
    }
    const QString text = e->text();
    if (!text.isEmpty()) {
        const char16_t c = text.at(0).unicode();
        return c < 256 ? static_cast<int>(c) : -1;
    }
    // Platforms that give no text for some keys: the bytes a keyboard produces for them.
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Escape:
        return 27;
    default:
        break;
    }
    return -1;
}

} // namespace

int TTerminal::KeyByte(const QKeyEvent* e) {
    return TypedByte(e);
}

TTerminal::TTerminal(QWidget* parent) : QAbstractScrollArea(parent) {
    buffer_ = std::make_unique<TBuffer>(*this, DefaultColumns, DefaultRows);
    feed_ = std::make_unique<TerminalFeed>(*buffer_);
    painter_ = std::make_unique<TerminalPainter>(*viewport(), *buffer_);
    scroller_ = std::make_unique<TerminalScroller>(*this, *buffer_);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::ArrowCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    blinkTimer_.setInterval(DefaultBlinkMs);
    connect(&blinkTimer_, &QTimer::timeout, this, &TTerminal::Tick);
    blinkTimer_.start();
    markTimer_.setInterval(TBuffer::MarkTimerMs);
    connect(&markTimer_, &QTimer::timeout, this, &TTerminal::Tick);
    statusHold_.setSingleShot(true);
    statusHold_.setInterval(TerminalPainter::PaintIntervalMs);
    connect(&statusHold_, &QTimer::timeout, this, &TTerminal::ReportStatus);

    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { scroller_->OnAction(ScrollBar::Horizontal, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { scroller_->OnAction(ScrollBar::Vertical, action); });

    // Even where no installed font passes, the cells get the size of the best one found.
    const QFont font = UsableTerminalFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (!SetTerminalFont(font)) {
        ApplyFont(font);
    }
}

TTerminal::~TTerminal() = default;

bool TTerminal::event(QEvent* e) {
    if (e->type() == StatusEvent::Type()) {
        statusPosted_ = false;
        ReportStatus();
        return true;
    }
    return QAbstractScrollArea::event(e);
}

// --- Operations ---------------------------------------------------------------------------------

void TTerminal::Clear(bool all) {
    if (all) {
        buffer_->ClearAll();
    } else {
        buffer_->ClearPage();
    }
}

int TTerminal::ResizeBuffer(int pageHeight, int rows, int columns) {
    const int result = buffer_->ResizeBuffer(rows, columns, pageHeight);
    if (result == 0) {
        ApplyClientSize();
        InvalidateAll();
    }
    return result;
}

void TTerminal::SetDefaultColors(std::uint8_t foreground, std::uint8_t background) {
    buffer_->SetDefaultColors(foreground, background);
    InvalidateAll();
}

void TTerminal::SetMarkColors(std::uint8_t foreground, std::uint8_t background) {
    buffer_->SetMarkColors(foreground, background);
    InvalidateAll();
}

void TTerminal::SetPalette(const TBuffer::Palette& palette) {
    buffer_->SetPalette(palette);
    InvalidateAll();
}

void TTerminal::SetBlinkTime(int milliseconds) {
    blinkTimer_.start(std::max(milliseconds, 1));
}

void TTerminal::SetPersistentMark(bool on) {
    persistentMark_ = on;
    buffer_->SetPersistentMark(on);
}

bool TTerminal::SetTerminalFont(const QFont& font) {
    if (!HasUniformAdvance(font)) {
        return false;
    }
    ApplyFont(font);
    return true;
}

void TTerminal::ApplyFont(const QFont& font) {
    TBuffer& b = *buffer_;
    const int oldRows = b.VisibleRows();
    const int oldColumns = b.VisibleColumns();
    painter_->SetFont(font);
    const QFontMetrics metrics(font);
    b.SetCellSize(std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1),
                  std::max(metrics.height(), 1));
    if (!ApplyClientSize()) {
        // Same client area, other cells: the view still has to follow the new cell count.
        scroller_->FollowVisibleChange(oldRows, oldColumns);
        scroller_->ResetRanges();
    }
    InvalidateAll();
    updateGeometry();
    b.PostStatus();
}

void TTerminal::SetScrollBarModes(bool permanentH, bool permanentV, bool autoH, bool autoV) {
    scroller_->SetModes(permanentH, permanentV, autoH, autoV);
}

QSize TTerminal::FrameExtra() const {
    return scroller_->FrameExtra();
}

QSize TTerminal::SizeForCells(int columns, int rows) const {
    const QSize extra = FrameExtra();
    return {columns * buffer_->CellWidth() + extra.width(),
            rows * buffer_->CellHeight() + extra.height()};
}

// --- Scrollback ---------------------------------------------------------------------------------

void TTerminal::RequestScrollback(bool on) {
    if (scrollbackRequest_) {
        scrollbackRequest_(on);
    } else if (on != scroller_->Scrollback()) {
        ToggleScrollback();
    }
}

bool TTerminal::ViewAtBottom() const {
    return buffer_->ViewTop() >= buffer_->HighestRowUsed() - buffer_->VisibleRows() + 1;
}

void TTerminal::wheelEvent(QWheelEvent* e) {
    e->accept();
    wheelAngle_ += e->angleDelta().y();
    const int notches = wheelAngle_ / 120;
    wheelAngle_ -= notches * 120;
    if (notches == 0) {
        return;
    }
    if (notches > 0 && !scroller_->Scrollback()) {
        if (buffer_->ViewTop() == 0) {
            return; // nothing above the view yet
        }
        RequestScrollback(true);
        wheelScrollback_ = scroller_->Scrollback();
    }
    if (!scroller_->Scrollback()) {
        return;
    }
    buffer_->ScrollView(0, -notches * WheelRows);
    if (notches < 0 && wheelScrollback_ && ViewAtBottom()) {
        RequestScrollback(false);
    }
}

void TTerminal::ToggleScrollback() {
    wheelScrollback_ = false;
    if (scroller_->Scrollback()) {
        scroller_->LeaveScrollback();
        InvalidateAll();
        buffer_->PostStatus();
        // What arrived meanwhile is shown now, all of it.
        feed_->SetHeld(false);
    } else {
        feed_->SetHeld(true);
        scroller_->EnterScrollback();
        buffer_->PostStatus();
    }
}

// --- Keyboard, mouse, focus ---------------------------------------------------------------------

void TTerminal::SendTypedByte(std::uint8_t b) {
    // Enter sends the chosen line end; every other key its own byte.
    const std::string_view end = LineEndBytes(feed_->LineEnds().send);
    const std::span<const std::uint8_t> bytes =
        b == '\r' ? std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(end.data()),
                                                  end.size())
                  : std::span<const std::uint8_t>(&b, 1);
    feed_->SendBytes(bytes);
}

void TTerminal::keyPressEvent(QKeyEvent* e) {
    if (scroller_->Scrollback()) {
        const bool browsed = scroller_->ScrollbackKey(e->key());
        if (!wheelScrollback_ || browsed || TypedByte(e) < 0) {
            e->accept();
            return;
        }
        // The wheel's scrollback gives way to typing: the live view returns and the key goes
        // out.
        RequestScrollback(false);
        if (scroller_->Scrollback()) {
            e->accept();
            return;
        }
    }
    const int b = TypedByte(e);
    if (b < 0) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    SendTypedByte(static_cast<std::uint8_t>(b));
    e->accept();
}

bool TTerminal::focusNextPrevChild(bool next) {
    // With WantTabs the TAB key is a character for the device, not focus navigation.
    return wantTabs_ ? false : QAbstractScrollArea::focusNextPrevChild(next);
}

void TTerminal::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    if (e->button() == Qt::MiddleButton && middlePaste_) {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        const bool primary = clipboard && clipboard->supportsSelection();
        const QString text = primary ? clipboard->text(QClipboard::Selection) : selection_;
        if (!text.isEmpty()) {
            middlePaste_(text);
        }
        return;
    }
    if (e->button() == Qt::LeftButton) {
        const QPoint p = e->position().toPoint();
        buffer_->BeginMark(p.x(), p.y(), e->modifiers() & Qt::ShiftModifier);
    }
}

void TTerminal::mouseMoveEvent(QMouseEvent* e) {
    if (buffer_->Marking()) {
        const QPoint p = e->position().toPoint();
        buffer_->MarkMove(p.x(), p.y());
    }
}

void TTerminal::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && buffer_->Marking()) {
        buffer_->EndMark();
        OfferSelection();
    }
}

void TTerminal::OfferSelection() {
    if (buffer_->MarkStart() == buffer_->MarkEnd()) {
        return; // a click, not a mark: the selection stays what it was
    }
    std::string text;
    if (!buffer_->MarkedText(text)) {
        return;
    }
    selection_ = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard && clipboard->supportsSelection()) {
        clipboard->setText(selection_, QClipboard::Selection);
    }
}

void TTerminal::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    buffer_->SetCaretShown(true);
    painter_->ShowCaret(true);
    buffer_->PostStatus();
}

void TTerminal::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    buffer_->SetCaretShown(false);
    painter_->ShowCaret(false);
}

void TTerminal::Tick() {
    buffer_->BlinkPass();
    buffer_->MarkTimerTick();
}

// --- Size and scroll bars -----------------------------------------------------------------------

void TTerminal::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    ApplyClientSize();
}

bool TTerminal::ApplyClientSize() {
    TBuffer& b = *buffer_;
    const QSize client = viewport()->size();
    if (client.width() == b.ClientWidth() && client.height() == b.ClientHeight()) {
        return false;
    }
    const int oldRows = b.VisibleRows();
    const int oldColumns = b.VisibleColumns();
    b.SetClientSize(client.width(), client.height());
    scroller_->FollowVisibleChange(oldRows, oldColumns);
    scroller_->ResetRanges();
    InvalidateAll();
    return true;
}

void TTerminal::scrollContentsBy(int, int) {
    // The buffer moves the view and schedules the repaint itself.
}

// --- ITerminalView ------------------------------------------------------------------------------

void TTerminal::InvalidateRect(const PixelRect& rect, bool) {
    // The paint always fills the background first, so erasing needs no separate step.
    painter_->Schedule(ToQRect(rect));
}

void TTerminal::InvalidateAll() {
    painter_->Schedule(viewport()->rect());
}

void TTerminal::UpdateWindow() {
    // Painting happens when the event loop next runs; repeated refreshes in one batch of input
    // then cost one paint instead of one each.
}

void TTerminal::ScrollContent(int, int, const PixelRect& clip) {
    // The paint draws every cell from the buffer, so repainting the moved area shows exactly
    // what a pixel scroll plus a repaint of the uncovered strip would.
    painter_->Schedule(ToQRect(clip));
}

void TTerminal::SetScrollRange(ScrollBar bar, int minimum, int maximum) {
    scroller_->SetRange(bar, minimum, maximum);
}

void TTerminal::SetScrollPos(ScrollBar bar, int position) {
    scroller_->SetPos(bar, position);
}

void TTerminal::MoveCaret(int x, int y) {
    painter_->MoveCaret(QPoint(x, y));
}

void TTerminal::PostStatus(std::uint32_t first, std::uint32_t second) {
    statusFirst_ = first;
    statusSecond_ = second;
    statusWaiting_ = true;
    // A flood refreshes the buffer for every batch it reads; the status line (whose every change
    // repaints it) follows at most once a frame, with where the cursor stands by then.
    if (!statusPosted_ && !statusHold_.isActive()) {
        statusPosted_ = true;
        QCoreApplication::postEvent(this, new StatusEvent());
    }
}

void TTerminal::ReportStatus() {
    if (!statusWaiting_) {
        return;
    }
    statusWaiting_ = false;
    statusHold_.start();
    if (onStatus_) {
        onStatus_(statusFirst_, statusSecond_);
    }
}

void TTerminal::ReportError(int code) {
    if (onError_) {
        onError_(code);
    }
}

bool TTerminal::StartMarkTimer(int milliseconds) {
    markTimer_.start(milliseconds);
    return true;
}

void TTerminal::StopMarkTimer() {
    markTimer_.stop();
}

void TTerminal::CaptureMouse() {
    // The button press already holds an implicit grab: moves and the release come here even
    // when the pointer leaves the window.
}

void TTerminal::ReleaseMouse() {
    // The implicit grab ends with the button release.
}

PixelPoint TTerminal::PointerPosition() const {
    const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
    return {p.x(), p.y()};
}

bool TTerminal::SetClipboardText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        return false;
    }
    // The buffer ends the text with a zero byte for the clipboard's C-string form.
    std::string plain = text;
    if (!plain.empty() && plain.back() == '\0') {
        plain.pop_back();
    }
    clipboard->setText(QString::fromLatin1(plain.data(), static_cast<qsizetype>(plain.size())));
    return true;
}

// --- Painting -----------------------------------------------------------------------------------

void TTerminal::paintEvent(QPaintEvent* e) {
    painter_->Paint(e->rect(), hasFocus());
}

} // namespace pellwick
