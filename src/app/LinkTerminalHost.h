// The port's owner as the terminal window's host: while the terminal window is shown the
// received bytes belong to it, so the link's own data triggers are off; and the window's
// reopening of the port goes through the owner, which makes the link's triggers anew, as do
// its DTR and RTS switches, which the owner's settings follow.
#pragma once

#include "link/PortOwner.h"
#include "terminal/ITerminalHost.h"

namespace pellwick {

class LinkTerminalHost : public ITerminalHost {
public:
    explicit LinkTerminalHost(PortOwner& owner) : owner_(owner) {}
    void DataTriggerEnabled(bool on) override { owner_.SetDataTriggers(on); }
    void ReopenPort() override { owner_.Renew(); }
    void SetDtr(bool on) override { owner_.SetDtr(on); }
    void SetRts(bool on) override { owner_.SetRts(on); }
    void SendBreak() override { owner_.Port().SendBreak(); }

private:
    PortOwner& owner_;
};

} // namespace pellwick
