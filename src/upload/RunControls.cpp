#include "upload/RunControls.h"

namespace pellwick {

const char* RunStateName(RunState state) {
    switch (state) {
    case RunState::Idle:
        return "idle";
    case RunState::Running:
        return "running";
    case RunState::PortLost:
        return "port lost";
    case RunState::PortClosed:
        return "port closed";
    }
    return "idle";
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
