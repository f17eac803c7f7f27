#include "lights/TVaxoCustomStatusLight.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>

namespace pellwick {

TVaxoCustomStatusLight::TVaxoCustomStatusLight(QWidget* parent) : QWidget(parent) {
    resize(kDefaultSize, kDefaultSize);
    UpdateDescription();
}

void TVaxoCustomStatusLight::SetStateName(const QString& name) {
    setAccessibleName(name);
    UpdateDescription();
}

void TVaxoCustomStatusLight::UpdateDescription() {
    // Read by screen readers: the lamp's colour alone tells them nothing.
    const QString name = accessibleName().isEmpty() ? objectName() : accessibleName();
    setAccessibleDescription(name + (lit_ ? QStringLiteral(" on") : QStringLiteral(" off")));
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void TVaxoCustomStatusLight::setLit(bool lit) {
    if (lit == lit_) {
        return;
    }
    lit_ = lit;
    UpdateDescription();
    update();
}

void TVaxoCustomStatusLight::setLitColor(const QColor& color) {
    if (color == litColor_) {
        return;
    }
    litColor_ = color;
    if (!hasGlyph_ && lit_) {
        update();
    }
}

void TVaxoCustomStatusLight::setNotLitColor(const QColor& color) {
    if (color == notLitColor_) {
        return;
    }
    notLitColor_ = color;
    if (!hasGlyph_ && !lit_) {
        update();
    }
}

void TVaxoCustomStatusLight::setGlyph(const QImage& glyph) {
    glyph_ = glyph.convertToFormat(QImage::Format_ARGB32);
    hasGlyph_ = !glyph_.isNull();
    ApplySizeRule();
    update();
}

QSize TVaxoCustomStatusLight::sizeHint() const {
    return hasGlyph_ ? GlyphLampSize() : QSize(kDefaultSize, kDefaultSize);
}

QSize TVaxoCustomStatusLight::GlyphLampSize() const {
    return QSize(glyph_.width() / 2, glyph_.height());
}

void TVaxoCustomStatusLight::ApplySizeRule() {
    if (hasGlyph_) {
        setFixedSize(GlyphLampSize());
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(kDefaultSize, kDefaultSize);
    }
}

QColor TVaxoCustomStatusLight::ParentBackground() const {
    const QWidget* from = parentWidget() != nullptr ? parentWidget() : this;
    return from->palette().color(from->backgroundRole());
}

void TVaxoCustomStatusLight::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const int w = width();
    const int h = height();
    if (hasGlyph_) {
        // The unlit image sits one lamp width to the right of the lit one.
        QImage part = glyph_.copy(lit_ ? 0 : w, 0, w, h);
        const QRgb transparent = glyph_.pixel(0, 0);
        const QRgb background = ParentBackground().rgb();
        for (int y = 0; y < part.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
            for (int x = 0; x < part.width(); ++x) {
                if (line[x] == transparent) {
                    line[x] = background;
                }
            }
        }
        painter.drawImage(0, 0, part);
        return;
    }
    painter.fillRect(rect(), lit_ ? litColor_ : notLitColor_);
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    painter.drawLine(0, 0, w, 0);
    painter.drawLine(0, 0, 0, h);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawLine(w - 1, 1, w - 1, h);
    painter.drawLine(1, h - 1, w, h - 1);
}

} // namespace pellwick
