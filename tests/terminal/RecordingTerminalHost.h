// The terminal form's host as the program's port owner plays it, recording what it was asked:
// data trigger switches, reopening, and the line switches and breaks passed on to the port.
#pragma once

#include "serial/TVaxoCustomComPort.h"
#include "terminal/ITerminalHost.h"

#include <string>
#include <vector>

namespace pellwick::test {

class RecordingTerminalHost : public ITerminalHost {
public:
    void DataTriggerEnabled(bool on) override { calls.push_back(on); }
    void ReopenPort() override {
        ++reopens;
        port->SetOpen(false);
        port->SetOpen(true);
    }
    void SetDtr(bool on) override {
        lines.push_back(on ? "DTR on" : "DTR off");
        port->SetDTR(on);
    }
    void SetRts(bool on) override {
        lines.push_back(on ? "RTS on" : "RTS off");
        port->SetRTS(on);
    }
    void SendBreak() override {
        lines.push_back("break");
        port->SendBreak();
    }

    TVaxoCustomComPort* port = nullptr;
    std::vector<bool> calls;
    int reopens = 0;
    std::vector<std::string> lines;
};

} // namespace pellwick::test
