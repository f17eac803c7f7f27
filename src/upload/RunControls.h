// Which actions a window offers the operator, derived from one state of the run and its port,
// so that no window sets them piecemeal: a start can never be offered while a run goes, nor
// while the port cannot carry one.
#pragma once

namespace pellwick {

enum class RunState {
    Idle,       // no run goes, and the port is open and usable
    Running,    // a run goes (whatever its port does meanwhile)
    PortLost,   // no run goes; the port's device went away and is waited for
    PortClosed, // no run goes; the port is not open
};
// "idle", "running", "port lost", "port closed".
const char* RunStateName(RunState state);

struct RunControls {
    bool Start = false;    // "Start File Upload" / "Select Upload Script"
    bool Cancel = false;   // "Cancel Upload"
    bool Settings = false; // "Communications Setup" and "&RS232 Setup"
    bool Terminal = false; // "Terminal Window", button and menu item
    friend bool operator==(const RunControls&, const RunControls&) = default;
};

// The actions of a state. The terminal window is offered while the device is away only once it
// exists (it tells of the loss), and never while a run goes: the run has the line.
RunControls ControlsFor(RunState state, bool terminalExists);

// The state of a run and its port: running wins; otherwise whether the port is open, and if it
// is not, whether its device is being waited for.
RunState RunStateOf(bool running, bool portOpen, bool portLost);

} // namespace pellwick
