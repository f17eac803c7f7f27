// No window: the port's notification receiver, a QObject on the GUI thread that receives the
// dispatcher's notifications (posted from the dispatch worker, which waits for them to be
// handled) and the port's own deferred-close message, and runs the port's events for them.
#pragma once

#include "serial/NotificationWindow.h"

#include <QEvent>
#include <QObject>
#include <memory>

namespace pellwick {

class TVaxoCustomComPort;

class VxComWindow : public QObject, public INotificationWindow {
    Q_OBJECT
public:
    VxComWindow() = default;

    void PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                          std::shared_ptr<DeliveryToken> token) override;
    // Posts a message of the port's own (MsgDeferredClose) to this window.
    void PostMessage(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam);

protected:
    bool event(QEvent* e) override;

private:
    void Handle(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam);
};

} // namespace pellwick
