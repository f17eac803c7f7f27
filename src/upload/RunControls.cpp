#include "upload/RunControls.h"

#include "serial/NameTable.h"

namespace pellwick {

// The names the window and the tests show.
constexpr NameTable<RunState> RunStateNames[] = {{RunState::Idle, "idle"},
                                                 {RunState::Running, "running"},
                                                 {RunState::PortLost, "port lost"},
                                                 {RunState::PortClosed, "port closed"}};

const char* RunStateName(RunState state) {
    return NameIn(RunStateNames, state, "idle");
}

RunControls ControlsFor(RunState state, bool terminalExists) {
    switch (state) {
    case RunState::Idle:
        return {true, false, true, true};
    case RunState::Running:
        return {false, true, false, false};
    case RunState::PortLost:
        return {false, false, true, terminalExists};
    case RunState::PortClosed:
        return {false, false, true, false};
    }
    return {};
}

RunState RunStateOf(bool running, bool portOpen, bool portLost) {
    if (running) {
        return RunState::Running;
    }
    if (portLost) {
        return RunState::PortLost;
    }
    return portOpen ? RunState::Idle : RunState::PortClosed;
}

} // namespace pellwick
