// The application style with the program's tool tip delay: a proxy over the platform style
// that only changes how long the pointer must rest before a tool tip shows.
#pragma once

#include <QProxyStyle>

namespace pellwick {

class THintDelayStyle : public QProxyStyle {
    Q_OBJECT

public:
    explicit THintDelayStyle(int wakeUpDelayMs) : wakeUpDelayMs_(wakeUpDelayMs) {}

    int WakeUpDelay() const { return wakeUpDelayMs_; }

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;

    // Installs the style application-wide, or only sets the delay if it is installed already.
    static void Install(int wakeUpDelayMs);

private:
    int wakeUpDelayMs_;
};

} // namespace pellwick
