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
#include <algorithm>

namespace pellwick {

namespace {

class StatusEvent : public QEvent {
public:
    static QEvent::Type Type() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    StatusEvent(std::uint32_t f, std::uint32_t s) : QEvent(Type()), first(f), second(s) {}
    std::uint32_t first;
    std::uint32_t second;
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

    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(ScrollBar::Horizontal, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(ScrollBar::Vertical, action); });

    // Even where no installed font passes, the cells get the size of the best one found.
    const QFont font = UsableTerminalFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (!SetTerminalFont(font)) {
        ApplyFont(font);
    }
}

TTerminal::~TTerminal() = default;

bool TTerminal::event(QEvent* e) {
    if (e->type() == StatusEvent::Type()) {
        auto* s = static_cast<StatusEvent*>(e);
        if (onStatus_) {
            onStatus_(s->first, s->second);
        }
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
        FollowVisibleChange(oldRows, oldColumns);
        ResetScrollRanges();
    }
    InvalidateAll();
    updateGeometry();
    b.PostStatus();
}

void TTerminal::SetScrollBarModes(bool permanentH, bool permanentV, bool autoH, bool autoV) {
    permanentH_ = permanentH;
    permanentV_ = permanentV;
    autoH_ = autoH && !permanentH;
    autoV_ = autoV && !permanentV;
    setHorizontalScrollBarPolicy(permanentH_ ? Qt::ScrollBarAlwaysOn
                                 : autoH_    ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(permanentV_ ? Qt::ScrollBarAlwaysOn
                               : autoV_    ? Qt::ScrollBarAsNeeded
                                           : Qt::ScrollBarAlwaysOff);
    ResetScrollRanges();
}

QSize TTerminal::FrameExtra() const {
    const int frame = 2 * frameWidth();
    const int h = permanentH_ ? horizontalScrollBar()->sizeHint().height() : 0;
    const int v = permanentV_ ? verticalScrollBar()->sizeHint().width() : 0;
    return {frame + v, frame + h};
}

QSize TTerminal::SizeForCells(int columns, int rows) const {
    const QSize extra = FrameExtra();
    return {columns * buffer_->CellWidth() + extra.width(),
            rows * buffer_->CellHeight() + extra.height()};
}

// --- Scrollback ---------------------------------------------------------------------------------

void TTerminal::ToggleScrollback() {
    if (scrollback_) {
        LeaveScrollback();
    } else {
        EnterScrollback();
    }
}

void TTerminal::EnterScrollback() {
    TBuffer& b = *buffer_;
    b.SaveCursorAndView();
    fullPageOnEntry_ = b.ClientWidth() >= b.Columns() * b.CellWidth() &&
                       b.ClientHeight() >= b.PageHeight() * b.CellHeight();
    clientOnEntry_ = viewport()->size();
    savedVMin_ = verticalScrollBar()->minimum();
    savedVMax_ = verticalScrollBar()->maximum();
    savedVPos_ = verticalScrollBar()->value();
    scrollback_ = true;
    feed_->SetHeld(true);
    b.SetScrollback(true);
    const int high = b.HighestRowUsed();
    SetScrollRange(ScrollBar::Vertical, 0,
                   high < b.VisibleRows() ? high : high - b.VisibleRows() + 1);
    if (autoH_) {
        SetScrollRange(ScrollBar::Horizontal, 0, std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    SetScrollPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    SetScrollPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
    b.PostStatus();
}

void TTerminal::LeaveScrollback() {
    TBuffer& b = *buffer_;
    scrollback_ = false;
    b.SetScrollback(false);
    if (permanentV_) {
        SetScrollRange(ScrollBar::Vertical, savedVMin_, savedVMax_);
    } else if (!autoV_ || fullPageOnEntry_) {
        SetScrollRange(ScrollBar::Vertical, 0, 0);
    } else {
        SetScrollRange(ScrollBar::Vertical, 0, std::max(b.PageHeight() - b.VisibleRows(), 0));
    }
    if (autoH_) {
        SetScrollRange(ScrollBar::Horizontal, 0,
                       fullPageOnEntry_ ? 0 : std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    b.RestoreCursorAndView();
    if (permanentV_) {
        SetScrollPos(ScrollBar::Vertical, savedVPos_);
    } else {
        SetScrollPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    }
    SetScrollPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
    InvalidateAll();
    b.PostStatus();
    // What arrived meanwhile is shown now, all of it.
    feed_->SetHeld(false);
}

bool TTerminal::ScrollbackKey(int key) {
    TBuffer& b = *buffer_;
    switch (key) {
    case Qt::Key_PageUp:
        b.ScrollView(0, -b.VisibleRows());
        return true;
    case Qt::Key_PageDown:
        b.ScrollView(0, b.VisibleRows());
        return true;
    case Qt::Key_Up:
        b.ScrollView(0, -1);
        return true;
    case Qt::Key_Down:
        b.ScrollView(0, 1);
        return true;
    case Qt::Key_Left:
        b.ScrollView(-1, 0);
        return true;
    case Qt::Key_Right:
        b.ScrollView(1, 0);
        return true;
    case Qt::Key_Home:
        b.ScrollView(-b.ViewLeft(), 0);
        return true;
    case Qt::Key_End: {
        // To just past the last non-blank character of the cursor row.
        int last = b.Columns() - 1;
        while (last >= 0 && b.CharAt(last, b.CursorRow()) == ' ') {
            --last;
        }
        b.ScrollView(last + 1 - b.CursorColumn(), 0);
        return true;
    }
    default:
        return false;
    }
}

// --- Keyboard, mouse, focus ---------------------------------------------------------------------

void TTerminal::SendTypedByte(std::uint8_t b) {
    // Enter sends the chosen line end; every other key its own byte.
    const std::string_view end = LineEndBytes(feed_->LineEnds().send);
    const std::span<const std::uint8_t> bytes =
        b == '\r' ? std::span<const std::uint8_t>(
                         reinterpret_cast<const std::uint8_t*>(end.data()), end.size())
                  : std::span<const std::uint8_t>(&b, 1);
    feed_->SendBytes(bytes);
}

void TTerminal::keyPressEvent(QKeyEvent* e) {
    if (scrollback_) {
        ScrollbackKey(e->key());
        e->accept();
        return;
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
    FollowVisibleChange(oldRows, oldColumns);
    ResetScrollRanges();
    InvalidateAll();
    return true;
}

void TTerminal::FollowVisibleChange(int oldRows, int oldColumns) {
    TBuffer& b = *buffer_;
    if (scrollback_ || isMinimized()) {
        return;
    }
    // The view follows the size: fewer rows keep the cursor in sight, more rows and columns
    // show what lies above and to the left.
    const int rowDiff = b.VisibleRows() - oldRows;
    if (rowDiff < 0) {
        b.SetViewTop(std::min(b.ViewTop() - rowDiff, b.CursorRow()));
    } else if (rowDiff > 0) {
        b.SetViewTop(std::max(b.ViewTop() - rowDiff, 0));
    }
    const int columnDiff = b.VisibleColumns() - oldColumns;
    if (columnDiff > 0) {
        b.SetViewLeft(std::max(b.ViewLeft() - columnDiff, 0));
    }
}

void TTerminal::ResetScrollRanges() {
    if (scrollback_) {
        return;
    }
    const TBuffer& b = *buffer_;
    if (permanentV_ || autoV_) {
        SetScrollRange(ScrollBar::Vertical, 0, std::max(b.PageHeight() - b.VisibleRows(), 0));
    }
    if (permanentH_ || autoH_) {
        SetScrollRange(ScrollBar::Horizontal, 0, std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    SetScrollPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    SetScrollPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
}

QScrollBar* TTerminal::Bar(ScrollBar bar) const {
    return bar == ScrollBar::Horizontal ? horizontalScrollBar() : verticalScrollBar();
}

void TTerminal::OnScrollAction(ScrollBar bar, int action) {
    TBuffer& b = *buffer_;
    const bool vertical = bar == ScrollBar::Vertical;
    const int page = b.PageHeight();
    auto step = [&](int n) {
        if (vertical) {
            b.ScrollView(0, n);
        } else {
            b.ScrollView(n, 0);
        }
    };
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        step(1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        step(-1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        step(page);
        break;
    case QAbstractSlider::SliderPageStepSub:
        step(-page);
        break;
    case QAbstractSlider::SliderToMinimum:
        b.ScrollToStart(bar);
        b.Refresh();
        break;
    case QAbstractSlider::SliderToMaximum:
        b.ScrollToEnd(bar);
        b.Refresh();
        break;
    case QAbstractSlider::SliderMove:
        // The thumb names a position; the view moves by the difference to the one shown now.
        step(Bar(bar)->sliderPosition() - b.ScrollBarPosition(bar));
        break;
    default:
        break;
    }
    // The slider applies its own idea of the step after this signal; the buffer's wins.
    Bar(bar)->setSliderPosition(b.ScrollBarPosition(bar));
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
    Bar(bar)->setRange(minimum, std::max(minimum, maximum));
}

void TTerminal::SetScrollPos(ScrollBar bar, int position) {
    Bar(bar)->setValue(position);
}

void TTerminal::MoveCaret(int x, int y) {
    painter_->MoveCaret(QPoint(x, y));
}

void TTerminal::PostStatus(std::uint32_t first, std::uint32_t second) {
    QCoreApplication::postEvent(this, new StatusEvent(first, second));
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
