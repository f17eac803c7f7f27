#include "link/PortRecovery.h"

#include "link/LinkOperations.h"
#include "serial/TVaxoCustomComPort.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace pellwick {

namespace {

// /dev/pts/N itself, not a link to it: the number goes to whichever pseudo-terminal is made
// next, so what appears there again is another program's line, never the lost device.
bool NumberedPseudoTerminal(const std::string& path) {
    const std::string folder = "/dev/pts/";
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find_first_not_of("0123456789", folder.size()) == std::string::npos;
}

} // namespace

PortRecovery::PortRecovery(TVaxoCustomComPort& port, LinkOperations& link)
    : port_(port), link_(link) {
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, [this] { TryReopen(); });
    port_.SetOnPortLost([this](TVaxoCustomComPort&) { PortLost(); });
}

PortRecovery::~PortRecovery() {
    port_.SetOnPortLost({});
    StopWaiting();
}

void PortRecovery::Cancel() {
    StopWaiting();
    port_.ClearLoss();
}

void PortRecovery::StopWaiting() {
    notifier_.reset();
    watch_.Stop();
    retry_.stop();
}

void PortRecovery::PortLost() {
    link_.LineLost();
    if (watching_) {
        Watch();
    }
}

void PortRecovery::Watch() {
    StopWaiting();
    // Such a line stays lost (its state and tool tips say so) until the operator opens the port
    // again: reopened by its number it would be taken from the program that now owns it.
    if (NumberedPseudoTerminal(port_.LostDevice())) {
        return;
    }
    if (!watch_.Start(port_.LostDevice())) {
        // Without a watch the port stays lost until the operator opens it again.
        TVaxoCustomComPort::ShowException(std::runtime_error(
            watch_.Error() + "\rSave the communication settings to open the port again once "
                             "the device is back."));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(watch_.Fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { PathChanged(); });
    // A device back before the watch was set (a short glitch) is tried at once.
    PathChanged();
}

void PortRecovery::PathChanged() {
    if (!watch_.Update()) {
        return;
    }
    retriesLeft_ = RetryCount;
    nextRetryMs_ = FirstRetryMs;
    TryReopen();
}

void PortRecovery::TryReopen() {
    if (port_.Open()) {
        // Opened meanwhile by the owner.
        StopWaiting();
        return;
    }
    if (port_.PortState() == TVaxoCustomComPort::State::Closed && watch_.Present()) {
        try {
            link_.OpenWithTriggers();
        } catch (const std::exception&) {
            // Not open: tried again below. Open with a trigger missing: reported when it is
            // armed, as at any opening.
        }
        if (port_.Open()) {
            StopWaiting();
            if (ILinkHost* host = link_.Host()) {
                host->SetComBtnState(true);
            }
            return;
        }
    } else if (port_.PortState() != TVaxoCustomComPort::State::Closed) {
        // The close of the loss is still being finished; look again in a moment.
        retry_.start(FirstRetryMs);
        return;
    }
    if (retriesLeft_ > 0) {
        --retriesLeft_;
        retry_.start(nextRetryMs_);
        nextRetryMs_ *= 2;
    } else if (watch_.WatchesServer()) {
        // The server took a test connection but not the port: wait for it once more. A path
        // gets no second chance until it changes; a server never changes. Not from inside the
        // notifier's own signal: the new watch replaces it.
        QTimer::singleShot(0, &retry_, [this] { Watch(); });
    }
}

} // namespace pellwick
