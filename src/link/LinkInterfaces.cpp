#include "link/LinkInterfaces.h"

#include "serial/TickClock.h"

#include <thread>

namespace pellwick {

namespace {

void BetweenLooks() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

void ILinkOperations::SendDataString(const std::string& text) {
    for (int round = 0; round < StringPacingRounds && !RoomFor(text.size()); ++round) {
        BetweenLooks();
    }
    WriteString(text);
}

void ILinkOperations::SendInitCmd(const std::string& text, std::string& answer) {
    TickTimer timer;
    timer.Start(AnswerWaitTicks);
    BeginCommand(text);
    while (TakeAnswer() == InputLook::Waiting && !timer.Expired()) {
        BetweenLooks();
    }
    answer = EndCommand();
}

std::string ILinkOperations::TakeInput() {
    using Clock = std::chrono::steady_clock;
    const auto quiet = QuietTime();
    const auto begin = Clock::now();
    auto lastByte = begin;
    BeginTakeInput();
    try {
        for (;;) {
            std::size_t taken = 0;
            const InputLook look = TakeArrived(taken);
            const auto now = Clock::now();
            if (taken > 0) {
                lastByte = now;
            }
            if (look != InputLook::Waiting || now - lastByte >= quiet ||
                now - begin >= InputQuietLimit) {
                break;
            }
            BetweenLooks();
        }
    } catch (...) {
        EndTakeInput();
        throw;
    }
    return EndTakeInput();
}

} // namespace pellwick
