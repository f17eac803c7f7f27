#include "terminal/TerminalPainter.h"

#include "terminal/TBuffer.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <array>

namespace pellwick {

namespace {

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

} // namespace

TerminalPainter::TerminalPainter(QWidget& viewport, const TBuffer& buffer)
    : viewport_(viewport), buffer_(buffer) {
    timer_.setSingleShot(true);
    timer_.setInterval(PaintIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Flush(); });
}

void TerminalPainter::SetFont(const QFont& font) {
    font_ = font;
    rawFont_ = QRawFont::fromFont(font_);
    glyphIndexes_.clear();
    if (!rawFont_.isValid()) {
        return;
    }
    const auto& glyphs = GlyphTable();
    const QString all(glyphs.data(), static_cast<qsizetype>(glyphs.size()));
    glyphIndexes_ = rawFont_.glyphIndexesForString(all);
}

void TerminalPainter::Schedule(const QRect& rect) {
    // Repaints are collected and handed to the toolkit at most once per frame: a stream of
    // received data then costs one paint per frame, not one per batch.
    pending_ += rect;
    if (!timer_.isActive()) {
        timer_.start();
    }
}

void TerminalPainter::Flush() {
    if (!pending_.isEmpty()) {
        viewport_.update(pending_);
        pending_ = QRegion();
    }
}

void TerminalPainter::MoveCaret(const QPoint& topLeft) {
    if (caretPos_ == topLeft) {
        return;
    }
    Schedule(CaretRect());
    caretPos_ = topLeft;
    Schedule(CaretRect());
}

void TerminalPainter::ShowCaret(bool on) {
    caretShown_ = on;
    viewport_.update(CaretRect());
}

QRect TerminalPainter::CaretRect() const {
    const TBuffer& b = buffer_;
    return QRect((b.CursorColumn() - b.ViewLeft()) * b.CellWidth(),
                 (b.CursorRow() - b.ViewTop()) * b.CellHeight(), b.CellWidth(), b.CellHeight())
        .united(QRect(caretPos_, QSize(b.CellWidth(), b.CellHeight())));
}

void TerminalPainter::Paint(const QRect& area, bool focused) {
    const TBuffer& b = buffer_;
    QPainter p(&viewport_);
    const TBuffer::Palette& palette = b.Colours();
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
    if (caretShown_ && focused) {
        const QRect caret((b.CursorColumn() - b.ViewLeft()) * cw,
                          (b.CursorRow() - b.ViewTop()) * ch, cw, ch);
        // The caret is drawn at the cursor, which plain writes move without telling the
        // painter: the cell it was drawn in before is cleared, and the caret is drawn whole
        // where this area leaves part of it out.
        if (caret.topLeft() != caretPos_) {
            Schedule(QRect(caretPos_, caret.size()));
            caretPos_ = caret.topLeft();
        }
        const QRect shown = caret & viewport_.rect();
        if (!shown.isEmpty() && !area.contains(shown)) {
            Schedule(shown);
        }
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caret, Qt::white);
    }
}

} // namespace pellwick
