// A small lamp that is either lit or not. Without a glyph it is a coloured square with a raised
// edge; with a glyph it shows one of two images kept side by side in the glyph (left lit, right
// unlit). Setters repaint only when what the lamp shows changes, so a controller may set the
// same state on every event without flicker.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

namespace pellwick {

class TVaxoCustomStatusLight : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDefaultSize = 13;
    // Pure red and dark green, the colours of a lamp without a glyph.
    static constexpr QRgb kDefaultLitColor = 0xFFFF0000;
    static constexpr QRgb kDefaultNotLitColor = 0xFF008000;

    explicit TVaxoCustomStatusLight(QWidget* parent = nullptr);

    bool Lit() const { return lit_; }
    void setLit(bool lit);
    // The accessible name ("CTS"); the accessible description then tells the state, "CTS on" or
    // "CTS off", and follows every change.
    void SetStateName(const QString& name);

    QColor LitColor() const { return litColor_; }
    void setLitColor(const QColor& color);

    QColor NotLitColor() const { return notLitColor_; }
    void setNotLitColor(const QColor& color);

    // The glyph holds two images of equal size side by side; its top-left pixel's colour is
    // transparent. A null image removes the glyph and gives the lamp its default size back.
    const QImage& Glyph() const { return glyph_; }
    void setGlyph(const QImage& glyph);
    bool HasGlyph() const { return hasGlyph_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize GlyphLampSize() const;
    // Pins the size while a glyph is used (QWidget::resize clamps to the fixed size) or frees it.
    void ApplySizeRule();
    QColor ParentBackground() const;
    void UpdateDescription();

    bool lit_ = false;
    QColor litColor_{kDefaultLitColor};
    QColor notLitColor_{kDefaultNotLitColor};
    QImage glyph_;
    bool hasGlyph_ = false;
};

} // namespace pellwick
