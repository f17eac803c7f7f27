// How the terminal window looks: the glyph of every byte value in the cell font, the visible
// cells of the screen buffer in their palette colours (marked cells in the mark colours), and
// the caret. Repaints are collected into one region and handed to the toolkit at most once per
// display frame. GUI thread only; the window owns it and hands it its paint events.
#pragma once

#include <QFont>
#include <QList>
#include <QPoint>
#include <QRawFont>
#include <QRect>
#include <QRegion>
#include <QTimer>

class QWidget;

namespace pellwick {

class TBuffer;

class TerminalPainter {
public:
    // Shortest time between two repaints of received data (about one display frame).
    static constexpr int PaintIntervalMs = 15;

    // viewport: the widget the cells are drawn on.
    TerminalPainter(QWidget& viewport, const TBuffer& buffer);
    TerminalPainter(const TerminalPainter&) = delete;
    TerminalPainter& operator=(const TerminalPainter&) = delete;

    // The cell font; the glyph of each byte value is looked up in it once, here.
    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }

    // Repaints the rectangle (viewport pixels) with the next frame.
    void Schedule(const QRect& rect);
    // The caret's top left corner (pixels), as the buffer placed it.
    void MoveCaret(const QPoint& topLeft);
    // Shown while the window has the focus; repaints the caret's cell at once.
    void ShowCaret(bool on);
    // Draws the area (viewport pixels); the caret only when the window has the focus.
    void Paint(const QRect& area, bool focused);

private:
    QRect CaretRect() const;
    void Flush();

    QWidget& viewport_;
    const TBuffer& buffer_;
    QFont font_;
    // Glyph of each byte value in the cell font; 0 where the font has none.
    QRawFont rawFont_;
    QList<quint32> glyphIndexes_;
    QRegion pending_;
    QTimer timer_;
    bool caretShown_ = false;
    QPoint caretPos_; // pixels
};

} // namespace pellwick
