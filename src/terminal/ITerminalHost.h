// What the terminal form asks of the window that owns the serial port: while the terminal is
// shown, received bytes belong to the terminal, so the owner's own data trigger is switched off.
// The communication settings window implements it; tests use a recording fake.
#pragma once

namespace pellwick {

class ITerminalHost {
public:
    virtual ~ITerminalHost() = default;
    virtual void DataTriggerEnabled(bool on) = 0;
};

} // namespace pellwick
