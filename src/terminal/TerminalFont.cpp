#include "terminal/TerminalFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace pellwick {

namespace {

QFont AtSizeOf(QFont font, const QFont& model) {
    if (model.pointSizeF() > 0) {
        font.setPointSizeF(model.pointSizeF());
    } else if (model.pixelSize() > 0) {
        font.setPixelSize(model.pixelSize());
    }
    return font;
}

QFont Family(const QString& family, const QFont& model) {
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return AtSizeOf(font, model);
}

} // namespace

bool HasUniformAdvance(const QFont& font) {
    const QFontMetrics metrics(font);
    const int advance = metrics.horizontalAdvance(QLatin1Char('M'));
    if (advance <= 0) {
        return false;
    }
    for (char c = ' '; c <= '~'; ++c) {
        if (metrics.horizontalAdvance(QLatin1Char(c)) != advance) {
            return false;
        }
    }
    return true;
}

QFont UsableTerminalFont(const QFont& preferred) {
    if (HasUniformAdvance(preferred)) {
        return preferred;
    }
    const QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont systemSized = AtSizeOf(system, preferred);
    if (HasUniformAdvance(systemSized)) {
        return systemSized;
    }
    static const char* const chain[] = {
        "monospace", "DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono", "Noto Mono",
        "Cousine",   "Nimbus Mono PS",   "FreeMono",        "Courier New",    "Courier"};
    for (const char* family : chain) {
        const QFont font = Family(QString::fromLatin1(family), preferred);
        if (HasUniformAdvance(font)) {
            return font;
        }
    }
    for (const QString& family : QFontDatabase::families()) {
        if (QFontDatabase::isFixedPitch(family)) {
            const QFont font = Family(family, preferred);
            if (HasUniformAdvance(font)) {
                return font;
            }
        }
    }
    return systemSized;
}

} // namespace pellwick
