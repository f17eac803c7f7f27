// The settings window's link as the terminal window's host: while the terminal window is shown
// the received bytes belong to it, so the link's own data triggers are off.
#pragma once

#include "link/LinkOperations.h"
#include "terminal/ITerminalHost.h"

namespace pellwick {

class LinkTerminalHost : public ITerminalHost {
public:
    explicit LinkTerminalHost(LinkOperations& link) : link_(link) {}
    void DataTriggerEnabled(bool on) override { link_.DataTriggerEnabled(on); }

private:
    LinkOperations& link_;
};

} // namespace pellwick
