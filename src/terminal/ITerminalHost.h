// What the terminal form asks of the owner of the serial port: while the terminal is shown,
// received bytes belong to the terminal, so the owner's own data trigger is switched off; the
// port is reopened when the form is made, so that the owner keeps its triggers in step; and
// the DTR and RTS lines and breaks go through the owner, so that its settings follow the line.
// The program's port owner implements it; tests use a recording fake.
#pragma once

namespace pellwick {

class ITerminalHost {
public:
    virtual ~ITerminalHost() = default;
    virtual void DataTriggerEnabled(bool on) = 0;
    // Closes the port and opens it again; throws when either fails.
    virtual void ReopenPort() = 0;
    // Drive the line (the port keeps its state while the line is under flow control); throw
    // when the port refuses.
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    // A 250 ms break; returns when it has ended. Throws when the port is closed or refuses.
    virtual void SendBreak() = 0;
};

} // namespace pellwick
