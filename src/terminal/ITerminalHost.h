// What the terminal form asks of the owner of the serial port: while the terminal is shown,
// received bytes belong to the terminal, so the owner's own data trigger is switched off; and
// the port is reopened when the form is made, so that the owner keeps its triggers in step.
// The program's port owner implements it; tests use a recording fake.
#pragma once

namespace pellwick {

class ITerminalHost {
public:
    virtual ~ITerminalHost() = default;
    virtual void DataTriggerEnabled(bool on) = 0;
    // Closes the port and opens it again; throws when either fails.
    virtual void ReopenPort() = 0;
};

} // namespace pellwick
