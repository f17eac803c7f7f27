#include "terminal/TTerminal.h"
#include "terminal/TerminalFont.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <array>

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

// What each byte looks like on screen: the control bytes and DEL show the symbols of the
// classic PC character set, so that ESC, TAB or BEL in the data stay visible as one cell each;
// the rest is Latin-1.
const std::array<QChar, 256>& GlyphTable() {
    static const std::array<QChar, 256> table = [] {
        static const char16_t low[32] = {
            u' ',      u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
            u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
            u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
            u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC'};
        std::array<QChar, 256> t{};
        for (int i = 0; i < 256; ++i) {
            t[i] = i < 32 ? QChar(low[i]) : QChar(static_cast<char16_t>(i));
        }
        // The C1 control bytes have no Latin-1 glyph: they look like the C0 ones.
        for (int i = 0x80; i < 0xA0; ++i) {
            t[i] = QChar(low[i - 0x80]);
        }
        t[0x7F] = QChar(u'\u2302');
        return t;
    }();
    return table;
}

QColor PaletteColor(const TBuffer::Palette& palette, int index) {
    return QColor::fromRgb(static_cast<QRgb>(palette[index & 15] | 0xFF000000u));
}

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
    paintTimer_.setSingleShot(true);
    paintTimer_.setInterval(PaintIntervalMs);
    connect(&paintTimer_, &QTimer::timeout, this, &TTerminal::FlushPaint);

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
    font_ = font;
    const QFontMetrics metrics(font_);
    b.SetCellSize(std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1),
                  std::max(metrics.height(), 1));
    PrepareGlyphs();
    if (!ApplyClientSize()) {
        // Same client area, other cells: the view still has to follow the new cell count.
        FollowVisibleChange(oldRows, oldColumns);
        ResetScrollRanges();
    }
    InvalidateAll();
    updateGeometry();
    b.PostStatus();
}

void TTerminal::PrepareGlyphs() {
    rawFont_ = QRawFont::fromFont(font_);
    glyphIndexes_.clear();
    if (!rawFont_.isValid()) {
        return;
    }
    const auto& glyphs = GlyphTable();
    const QString all(glyphs.data(), static_cast<qsizetype>(glyphs.size()));
    glyphIndexes_ = rawFont_.glyphIndexesForString(all);
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
    caretShown_ = true;
    buffer_->SetCaretShown(true);
    viewport()->update(CaretRect());
    buffer_->PostStatus();
}

void TTerminal::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    caretShown_ = false;
    buffer_->SetCaretShown(false);
    viewport()->update(CaretRect());
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
    SchedulePaint(ToQRect(rect));
}

void TTerminal::InvalidateAll() {
    SchedulePaint(viewport()->rect());
}

void TTerminal::SchedulePaint(const QRect& rect) {
    // Repaints are collected and handed to the toolkit at most once per frame: a stream of
    // received data then costs one paint per frame, not one per batch.
    pendingPaint_ += rect;
    if (!paintTimer_.isActive()) {
        paintTimer_.start();
    }
}

void TTerminal::FlushPaint() {
    if (!pendingPaint_.isEmpty()) {
        viewport()->update(pendingPaint_);
        pendingPaint_ = QRegion();
    }
}

void TTerminal::UpdateWindow() {
    // Painting happens when the event loop next runs; repeated refreshes in one batch of input
    // then cost one paint instead of one each.
}

void TTerminal::ScrollContent(int, int, const PixelRect& clip) {
    // The paint draws every cell from the buffer, so repainting the moved area shows exactly
    // what a pixel scroll plus a repaint of the uncovered strip would.
    SchedulePaint(ToQRect(clip));
}

void TTerminal::SetScrollRange(ScrollBar bar, int minimum, int maximum) {
    Bar(bar)->setRange(minimum, std::max(minimum, maximum));
}

void TTerminal::SetScrollPos(ScrollBar bar, int position) {
    Bar(bar)->setValue(position);
}

void TTerminal::MoveCaret(int x, int y) {
    if (caretPos_ == QPoint(x, y)) {
        return;
    }
    SchedulePaint(CaretRect());
    caretPos_ = QPoint(x, y);
    SchedulePaint(CaretRect());
}

QRect TTerminal::CaretRect() const {
    const TBuffer& b = *buffer_;
    return QRect((b.CursorColumn() - b.ViewLeft()) * b.CellWidth(),
                 (b.CursorRow() - b.ViewTop()) * b.CellHeight(), b.CellWidth(), b.CellHeight())
        .united(QRect(caretPos_, QSize(b.CellWidth(), b.CellHeight())));
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
    const TBuffer& b = *buffer_;
    QPainter p(viewport());
    const TBuffer::Palette& palette = b.Colours();
    const QRect area = e->rect();
    p.fillRect(area, PaletteColor(palette, b.CurrentBackground()));
    const int cw = b.CellWidth();
    const int ch = b.CellHeight();
    if (cw <= 0 || ch <= 0) {
        return;
    }
    p.setFont(font_);
    const int ascent = QFontMetrics(font_).ascent();
    const auto& glyphs = GlyphTable();
    const auto chars = b.Characters();
    const auto colors = b.Colors();

    const int firstRow = std::max(area.top() / ch, 0);
    const int lastRow = std::min(area.bottom() / ch, b.Rows() - 1 - b.ViewTop());
    const int firstCol = std::max(area.left() / cw, 0);
    const int lastCol = std::min(area.right() / cw, b.Columns() - 1 - b.ViewLeft());
    const int markColor = b.MarkBackground() << 4 | b.MarkForeground();
    const bool useGlyphs = glyphIndexes_.size() == 256;
    QList<quint32> indexes;
    QList<QPointF> positions;
    QString fallback;
    for (int r = firstRow; r <= lastRow; ++r) {
        const int row = b.ViewTop() + r;
        auto colorOf = [&](int col) {
            const int column = b.ViewLeft() + col;
            return b.IsMarked(column, row) ? markColor : colors[b.CellIndex(column, row)];
        };
        int c = firstCol;
        while (c <= lastCol) {
            // One text call for each run of cells drawn in the same colours. The glyphs are
            // placed on the cell grid, so every cell keeps its column whatever the font does.
            const int start = c;
            const int color = colorOf(c);
            indexes.clear();
            positions.clear();
            fallback.clear();
            bool missing = !useGlyphs;
            while (c <= lastCol && colorOf(c) == color) {
                const std::uint8_t ch8 = chars[b.CellIndex(b.ViewLeft() + c, row)];
                if (useGlyphs) {
                    const quint32 glyph = glyphIndexes_[ch8];
                    missing = missing || (glyph == 0 && ch8 != ' ');
                    indexes.append(glyph);
                    positions.append(QPointF((c - start) * cw, 0));
                }
                fallback.append(glyphs[ch8]);
                ++c;
            }
            const QRect cells(start * cw, r * ch, (c - start) * cw, ch);
            p.fillRect(cells, PaletteColor(palette, color >> 4));
            p.setPen(PaletteColor(palette, color & 15));
            if (missing) {
                // A glyph the cell font lacks: let the toolkit find it in another font. That
                // font's glyph may be wider than a cell; it is narrowed to fit, so that it does
                // not run into its neighbours.
                const QFontMetricsF metrics(font_);
                for (int i = 0; i < fallback.size(); ++i) {
                    const QString text(fallback[i]);
                    const qreal wide = metrics.horizontalAdvance(text);
                    const qreal left = cells.left() + i * cw;
                    if (wide <= cw) {
                        p.drawText(QPointF(left, cells.top() + ascent), text);
                        continue;
                    }
                    p.save();
                    p.translate(left, cells.top() + ascent);
                    p.scale(cw / wide, 1.0);
                    p.drawText(QPointF(0, 0), text);
                    p.restore();
                }
            } else {
                QGlyphRun run;
                run.setRawFont(rawFont_);
                run.setGlyphIndexes(indexes);
                run.setPositions(positions);
                run.setUnderline(font_.underline());
                run.setStrikeOut(font_.strikeOut());
                run.setOverline(font_.overline());
                p.drawGlyphRun(QPointF(cells.left(), cells.top() + ascent), run);
            }
        }
    }
    if (caretShown_ && hasFocus()) {
        const QRect caret((b.CursorColumn() - b.ViewLeft()) * cw,
                          (b.CursorRow() - b.ViewTop()) * ch, cw, ch);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caret, Qt::white);
    }
}

} // namespace pellwick
