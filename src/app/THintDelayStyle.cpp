#include "app/THintDelayStyle.h"

#include <QApplication>

namespace pellwick {

int THintDelayStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                               QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay) {
        return wakeUpDelayMs_;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void THintDelayStyle::Install(int wakeUpDelayMs) {
    if (auto* installed = qobject_cast<THintDelayStyle*>(QApplication::style())) {
        installed->wakeUpDelayMs_ = wakeUpDelayMs;
        return;
    }
    // The application takes ownership of the style.
    QApplication::setStyle(new THintDelayStyle(wakeUpDelayMs));
}

} // namespace pellwick
