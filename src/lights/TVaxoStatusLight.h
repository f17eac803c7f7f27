// The lamp as windows place it: the lamp logic with its settings published as Qt properties,
// so that forms and tests can set them by name.
#pragma once

#include "lights/TVaxoCustomStatusLight.h"

namespace pellwick {

class TVaxoStatusLight : public TVaxoCustomStatusLight {
    Q_OBJECT
    Q_PROPERTY(bool Lit READ Lit WRITE setLit)
    Q_PROPERTY(QColor LitColor READ LitColor WRITE setLitColor)
    Q_PROPERTY(QColor NotLitColor READ NotLitColor WRITE setNotLitColor)
    Q_PROPERTY(QImage Glyph READ Glyph WRITE setGlyph)

public:
    explicit TVaxoStatusLight(QWidget* parent = nullptr);
};

} // namespace pellwick
