#include "lights/TVaxoStatusLight.h"

#include <QAccessible>
#include <QEvent>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kDarkGreen = 0xFF008000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kGrey = 0xFF808080;

QImage Picture(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Two 13 x 13 images side by side: the lit one blue with a magenta corner, the unlit one yellow
// with a magenta corner; magenta (the top-left pixel) is the transparent colour.
QImage TwoStateGlyph() {
    QImage glyph(26, 13, QImage::Format_RGB32);
    glyph.fill(QColor(0, 0, 255));
    for (int y = 0; y < 13; ++y) {
        for (int x = 13; x < 26; ++x) {
            glyph.setPixel(x, y, qRgb(255, 255, 0));
        }
    }
    for (int i = 0; i < 3; ++i) {
        glyph.setPixel(i, 0, qRgb(255, 0, 255));
        glyph.setPixel(13 + i, 12, qRgb(255, 0, 255));
    }
    return glyph;
}

// The lamp is its colour inside a raised edge: white along the top and left (corners
// included), grey along the right and bottom, whatever its size and state. The first two rows
// are a new lamp's defaults: 13 x 13, unlit, dark green when unlit and red when lit.
TEST(StatusLight, LampPaintsItsColourInsideARaisedEdgeAtAnySize) {
    const struct {
        const char* name;
        QSize size;
        bool lit;
        QRgb litColor; // 0: the default
        QRgb inside;
    } rows[] = {
        {"new lamp", {13, 13}, false, 0, kDarkGreen},
        {"lit lamp", {13, 13}, true, 0, kRed},
        {"lit, resized, own colour", {10, 8}, true, qRgb(0, 0, 200), qRgb(0, 0, 200)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TVaxoStatusLight lamp;
        if (r.size != QSize(13, 13)) {
            lamp.resize(r.size);
        }
        if (r.litColor) {
            lamp.setLitColor(QColor(r.litColor));
        }
        if (r.lit) {
            lamp.setLit(true);
        }
        const QImage img = Picture(lamp);
        ASSERT_EQ(img.size(), r.size);
        const int right = r.size.width() - 1;
        const int bottom = r.size.height() - 1;
        for (int y = 0; y <= bottom; ++y) {
            for (int x = 0; x <= right; ++x) {
                const QRgb want = (x == 0 || y == 0)            ? kWhite
                                  : (x == right || y == bottom) ? kGrey
                                                                : r.inside;
                ASSERT_EQ(img.pixel(x, y), want) << "at " << x << "," << y;
            }
        }
    }
}

TEST(StatusLight, GlyphSizesLampToHalfItsWidthAndShowsLitAndUnlitHalves) {
    QWidget parent;
    QPalette pal = parent.palette();
    pal.setColor(parent.backgroundRole(), QColor(10, 20, 30));
    parent.setPalette(pal);
    TVaxoStatusLight lamp(&parent);
    lamp.setGlyph(TwoStateGlyph());
    ASSERT_TRUE(lamp.HasGlyph());
    EXPECT_EQ(lamp.size(), QSize(13, 13));

    const QRgb background = qRgb(10, 20, 30);
    lamp.setLit(true);
    QImage lit = Picture(lamp);
    EXPECT_EQ(lit.pixel(6, 6), qRgb(0, 0, 255));
    EXPECT_EQ(lit.pixel(0, 0), background);
    EXPECT_EQ(lit.pixel(2, 0), background);
    EXPECT_EQ(lit.pixel(12, 12), qRgb(0, 0, 255));

    lamp.setLit(false);
    QImage unlit = Picture(lamp);
    EXPECT_EQ(unlit.pixel(6, 6), qRgb(255, 255, 0));
    EXPECT_EQ(unlit.pixel(0, 0), qRgb(255, 255, 0));
    EXPECT_EQ(unlit.pixel(2, 12), background);
}

TEST(StatusLight, GlyphOverridesResizeUntilItIsRemoved) {
    TVaxoStatusLight lamp;
    lamp.resize(40, 30);
    QImage odd(21, 9, QImage::Format_RGB32);
    odd.fill(Qt::white);
    lamp.setGlyph(odd);
    EXPECT_EQ(lamp.size(), QSize(10, 9)) << "half the width, rounded down, by the full height";
    lamp.resize(50, 50);
    EXPECT_EQ(lamp.size(), QSize(10, 9));

    lamp.setGlyph(QImage());
    EXPECT_FALSE(lamp.HasGlyph());
    EXPECT_EQ(lamp.size(), QSize(13, 13));
    lamp.resize(10, 8);
    EXPECT_EQ(lamp.size(), QSize(10, 8));
    lamp.setLit(true);
    EXPECT_EQ(Picture(lamp).pixel(5, 4), kRed) << "colours are used again without the glyph";
}

TEST(StatusLight, PropertiesAreReachableByName) {
    TVaxoStatusLight lamp;
    lamp.setObjectName("SLCts");
    EXPECT_TRUE(lamp.setProperty("Lit", true));
    EXPECT_TRUE(lamp.Lit());
    EXPECT_TRUE(lamp.setProperty("NotLitColor", QColor(1, 2, 3)));
    EXPECT_EQ(lamp.NotLitColor(), QColor(1, 2, 3));
    EXPECT_EQ(lamp.property("LitColor").value<QColor>().rgb(), kRed);
}

TEST(StatusLight, ScreenReadersHearTheNameAndTheStateAsItChanges) {
    TVaxoStatusLight lamp;
    lamp.SetStateName("CTS");
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&lamp);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->text(QAccessible::Name), "CTS");
    EXPECT_EQ(reader->text(QAccessible::Description), "CTS off");
    lamp.setLit(true);
    EXPECT_EQ(reader->text(QAccessible::Description), "CTS on");
    lamp.setLit(false);
    EXPECT_EQ(reader->text(QAccessible::Description), "CTS off");
}

class StatusLightRepaint : public ::testing::Test {
protected:
    void SetUp() override {
        lamp.installEventFilter(&counter);
        lamp.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&lamp, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 10000));
        Settle();
    }

    // Lets pending paints arrive and forgets them.
    void Settle() {
        QTest::qWait(50);
        counter.paints = 0;
    }

    // A paint, once requested, is delivered by the event loop; wait for it or for a generous
    // quiet time when none is expected.
    bool PaintArrives() {
        return QTest::qWaitFor([&] { return counter.paints > 0; }, 5000);
    }
    bool NoPaintWithin(int ms) {
        QTest::qWait(ms);
        return counter.paints == 0;
    }

    TVaxoStatusLight lamp;
    PaintCounter counter;
};

TEST_F(StatusLightRepaint, OnlyAChangeOfLitRepaints) {
    lamp.setLit(false);
    EXPECT_TRUE(NoPaintWithin(200));
    lamp.setLit(true);
    EXPECT_TRUE(PaintArrives());
    Settle();
    lamp.setLit(true);
    EXPECT_TRUE(NoPaintWithin(200));
}

TEST_F(StatusLightRepaint, ColourChangeRepaintsOnlyWhenThatColourIsShown) {
    lamp.setLitColor(QColor(0, 0, 255));
    EXPECT_TRUE(NoPaintWithin(200)) << "unlit lamp does not show the lit colour";
    lamp.setNotLitColor(QColor(0, 0, 255));
    EXPECT_TRUE(PaintArrives());
    Settle();
    lamp.setNotLitColor(QColor(0, 0, 255));
    EXPECT_TRUE(NoPaintWithin(200)) << "same colour again";

    lamp.setGlyph(TwoStateGlyph());
    ASSERT_TRUE(PaintArrives());
    Settle();
    lamp.setNotLitColor(QColor(9, 9, 9));
    EXPECT_TRUE(NoPaintWithin(200)) << "a glyph lamp does not use the colours";
    EXPECT_EQ(lamp.NotLitColor(), QColor(9, 9, 9));
}

} // namespace
} // namespace pellwick
