// Draws the splash picture (600 x 400, PNG), the about box picture (329 x 129, JPEG) and the
// program icon (128 x 128, PNG) into a folder. The committed pictures come from this program:
//   pellwick-make-pictures src/resources/pictures
// The JPEG is written with libjpeg's own API so that the result does not depend on which image
// plugins the Qt installation carries.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace {

// A nine-pin D connector seen from the front: a trapezoid shell around five and four pins.
void DrawConnector(QPainter& p, const QRectF& box) {
    const double w = box.width();
    const double h = box.height();
    const double inset = w * 0.09;
    QPainterPath shell;
    shell.moveTo(box.left(), box.top());
    shell.lineTo(box.right(), box.top());
    shell.lineTo(box.right() - inset, box.bottom());
    shell.lineTo(box.left() + inset, box.bottom());
    shell.closeSubpath();

    QLinearGradient metal(box.topLeft(), box.bottomLeft());
    metal.setColorAt(0.0, QColor(235, 238, 242));
    metal.setColorAt(0.5, QColor(160, 168, 178));
    metal.setColorAt(1.0, QColor(110, 118, 128));
    p.setPen(QPen(QColor(60, 66, 74), w * 0.015));
    p.setBrush(metal);
    p.drawPath(shell);

    const QRectF inner = box.adjusted(w * 0.08, h * 0.14, -w * 0.08, -h * 0.14);
    QPainterPath well;
    well.moveTo(inner.left(), inner.top());
    well.lineTo(inner.right(), inner.top());
    well.lineTo(inner.right() - inset * 0.8, inner.bottom());
    well.lineTo(inner.left() + inset * 0.8, inner.bottom());
    well.closeSubpath();
    p.setBrush(QColor(28, 34, 44));
    p.drawPath(well);

    const double pin = h * 0.16;
    auto drawRow = [&](int count, double y, double left, double right) {
        for (int i = 0; i < count; ++i) {
            const double x = left + (right - left) * i / (count - 1);
            QRadialGradient gold(QPointF(x - pin * 0.2, y - pin * 0.2), pin * 0.7);
            gold.setColorAt(0.0, QColor(255, 236, 150));
            gold.setColorAt(1.0, QColor(190, 140, 30));
            p.setPen(Qt::NoPen);
            p.setBrush(gold);
            p.drawEllipse(QPointF(x, y), pin / 2, pin / 2);
        }
    };
    drawRow(5, inner.top() + inner.height() * 0.3, inner.left() + w * 0.1, inner.right() - w * 0.1);
    drawRow(4, inner.top() + inner.height() * 0.72, inner.left() + w * 0.17,
            inner.right() - w * 0.17);
}

// One character on the line as a trace: start bit, eight data bits of 'P' (0x50) least
// significant first, stop bit, idle high around it.
void DrawSerialTrace(QPainter& p, const QRectF& band, const QColor& color) {
    std::vector<int> levels = {1, 1, 0};
    for (int bit = 0; bit < 8; ++bit) {
        levels.push_back((0x50 >> bit) & 1);
    }
    levels.insert(levels.end(), {1, 1, 1});
    const double step = band.width() / static_cast<double>(levels.size());
    QPainterPath trace;
    auto yOf = [&](int level) { return level != 0 ? band.top() : band.bottom(); };
    trace.moveTo(band.left(), yOf(levels[0]));
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const double x = band.left() + step * static_cast<double>(i);
        trace.lineTo(x, yOf(levels[i]));
        trace.lineTo(x + step, yOf(levels[i]));
    }
    p.setPen(QPen(color, 2.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
}

// The pictures' face: DejaVu Sans at a size in pixels, bold or with letters spaced apart by the
// given pixels where asked.
QFont Sans(int pixels, bool bold = false, qreal spacing = 0) {
    QFont font("DejaVu Sans");
    font.setPixelSize(pixels);
    if (bold) {
        font.setBold(true);
    }
    if (spacing > 0) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    return font;
}

// An opaque picture of the given size filled with the gradient.
QImage Background(int width, int height, const QLinearGradient& gradient) {
    QImage img(width, height, QImage::Format_RGB32);
    QPainter(&img).fillRect(img.rect(), gradient);
    return img;
}

QImage Splash() {
    QLinearGradient sky(0, 0, 600, 400);
    sky.setColorAt(0.0, QColor(12, 30, 66));
    sky.setColorAt(0.6, QColor(18, 78, 110));
    sky.setColorAt(1.0, QColor(20, 120, 128));
    QImage img = Background(600, 400, sky);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Faint grid, like a measuring screen.
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (int x = 0; x <= 600; x += 25) {
        p.drawLine(x, 0, x, 400);
    }
    for (int y = 0; y <= 400; y += 25) {
        p.drawLine(0, y, 600, y);
    }

    DrawSerialTrace(p, QRectF(30, 300, 540, 40), QColor(120, 255, 190));
    DrawConnector(p, QRectF(400, 64, 170, 96));

    p.setFont(Sans(22, false, 4));
    p.setPen(QColor(170, 210, 235));
    p.drawText(QPointF(40, 90), "QUARROW");

    p.setFont(Sans(72, true));
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QPointF(43, 173), "Pellwick");
    p.setPen(QColor(250, 250, 250));
    p.drawText(QPointF(40, 170), "Pellwick");

    p.setFont(Sans(20));
    p.setPen(QColor(210, 230, 240));
    p.drawText(QPointF(42, 215), "RS-232 file loader");
    p.setFont(Sans(15));
    p.setPen(QColor(170, 200, 215));
    p.drawText(QPointF(42, 245), "Version 2.00");
    p.drawText(QPointF(42, 385), "Starting...");
    return img;
}

QImage About() {
    QLinearGradient band(0, 0, 329, 0);
    band.setColorAt(0.0, QColor(16, 44, 86));
    band.setColorAt(1.0, QColor(28, 128, 140));
    QImage img = Background(329, 129, band);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    DrawSerialTrace(p, QRectF(10, 96, 309, 18), QColor(120, 255, 190));
    DrawConnector(p, QRectF(14, 18, 110, 62));

    p.setFont(Sans(38, true));
    p.setPen(QColor(250, 250, 250));
    p.drawText(QPointF(140, 58), "Pellwick");
    p.setFont(Sans(13, false, 3));
    p.setPen(QColor(180, 215, 235));
    p.drawText(QPointF(142, 80), "QUARROW  RS-232");
    return img;
}

bool WriteJpeg(const QImage& source, const std::string& path, int quality) {
    const QImage img = source.convertToFormat(QImage::Format_RGB888);
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(img.width());
    cinfo.image_height = static_cast<JDIMENSION>(img.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(img.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

// The program icon: the connector on a rounded blue tile with an arrow pointing into it.
QImage Icon() {
    QImage img(128, 128, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, 128);
    tile.setColorAt(0.0, QColor(40, 110, 190));
    tile.setColorAt(1.0, QColor(16, 52, 110));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);
    DrawConnector(p, QRectF(18, 62, 92, 44));
    QPainterPath arrow;
    arrow.moveTo(52, 14);
    arrow.lineTo(76, 14);
    arrow.lineTo(76, 34);
    arrow.lineTo(90, 34);
    arrow.lineTo(64, 56);
    arrow.lineTo(38, 34);
    arrow.lineTo(52, 34);
    arrow.closeSubpath();
    p.setBrush(QColor(250, 200, 40));
    p.setPen(QPen(QColor(120, 80, 0), 2));
    p.drawPath(arrow);
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    if (!Splash().save(QString::fromStdString(folder + "/splash.png"), "PNG")) {
        std::fprintf(stderr, "cannot write %s/splash.png\n", folder.c_str());
        return 1;
    }
    if (!WriteJpeg(About(), folder + "/about.jpg", 88)) {
        std::fprintf(stderr, "cannot write %s/about.jpg\n", folder.c_str());
        return 1;
    }
    if (!Icon().save(QString::fromStdString(folder + "/pellwick.png"), "PNG")) {
        std::fprintf(stderr, "cannot write %s/pellwick.png\n", folder.c_str());
        return 1;
    }
    return 0;
}
