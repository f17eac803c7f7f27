// Brings the port back after its device went away. The port closes by itself on the loss
// (TVaxoCustomComPort::OnPortLost); this tells the link (a transfer under way ends, the host
// hears of it), then watches the device's path (for a network port: its server, tried with a
// growing pause) and, once it leads to a device again, opens the port with the settings it had
// and makes the link's triggers anew. Nothing that was under way is sent again. A pseudo-terminal
// named by its number (/dev/pts/N) is not waited for: a new one by that number is another
// program's. Needs no window; runs on the GUI thread's event loop.
#pragma once

#include "serial/DevicePathWatch.h"

#include <QSocketNotifier>
#include <QTimer>
#include <memory>

namespace pellwick {

class LinkOperations;
class TVaxoCustomComPort;

class PortRecovery {
public:
    // Takes over the port's OnPortLost event.
    PortRecovery(TVaxoCustomComPort& port, LinkOperations& link);
    ~PortRecovery();
    PortRecovery(const PortRecovery&) = delete;
    PortRecovery& operator=(const PortRecovery&) = delete;

    // Waiting for the lost device to come back.
    bool Waiting() const { return watch_.Active(); }
    // Stops waiting and forgets the loss: the owner opens or closes the port itself now.
    void Cancel();
    // Off: a loss is told to the link, but the device is not waited for; the owner's user
    // brings the port back itself (a station slot, which watches for its next board anyway).
    void SetWatching(bool on) { watching_ = on; }

    // Opening attempts after the device's path is back but the open failed (udev may not have
    // set the node's group yet, another program may have taken it): this many, doubling the
    // pause from the first, before only the next change of the path is waited for.
    static constexpr int RetryCount = 6;
    static constexpr int FirstRetryMs = 100;

private:
    void PortLost();
    // Starts waiting for the lost device.
    void Watch();
    void PathChanged();
    void TryReopen();
    void StopWaiting();

    TVaxoCustomComPort& port_;
    LinkOperations& link_;
    DevicePathWatch watch_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer retry_;
    int retriesLeft_ = 0;
    int nextRetryMs_ = FirstRetryMs;
    bool watching_ = true;
};

} // namespace pellwick
