#include "serial/VxComWindow.h"

#include "serial/DispatcherRegistry.h"
#include "serial/NotificationEvent.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/TVaxoWin32Dispatcher.h"

#include <QCoreApplication>
#include <QThread>

namespace pellwick {

void VxComWindow::PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                                   std::shared_ptr<DeliveryToken> token) {
    QCoreApplication::postEvent(this, new NotificationEvent(msg, wParam, lParam, std::move(token)));
}

void VxComWindow::PostMessage(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam) {
    QCoreApplication::postEvent(this, new NotificationEvent(msg, wParam, lParam, nullptr));
}

bool VxComWindow::event(QEvent* e) {
    if (e->type() != NotificationEvent::EventType()) {
        return QObject::event(e);
    }
    auto* n = static_cast<NotificationEvent*>(e);
    n->Handle([&] { Handle(n->msg, n->wParam, n->lParam); });
    return true;
}

void VxComWindow::Handle(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam) {
    // The registry stays locked for the whole handling, event handlers included, so that the
    // dispatcher cannot vanish under a handler.
    std::lock_guard lock(DispatcherRegistryLock());
    TVaxoBaseDispatcher* dispatcher = FindDispatcher(static_cast<int>(lParam >> 16));
    if (dispatcher == nullptr || dispatcher->Owner() == nullptr) {
        return;
    }
    auto* port = static_cast<TVaxoCustomComPort*>(dispatcher->Owner());
    try {
        port->HandleNotification(msg, wParam, lParam);
    } catch (const std::exception& ex) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            TVaxoCustomComPort::ShowException(ex);
        }
    }
}

} // namespace pellwick
