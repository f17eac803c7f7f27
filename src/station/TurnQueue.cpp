#include "station/TurnQueue.h"

namespace pellwick {

TurnQueue::TurnQueue(QObject* parent) : QObject(parent) {
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &TurnQueue::Next);
}

void TurnQueue::Add(QObject* context, std::function<void()> work) {
    queue_.push_back({context, std::move(work)});
    if (!timer_.isActive()) {
        timer_.start();
    }
}

void TurnQueue::Next() {
    if (queue_.empty()) {
        timer_.stop();
        return;
    }
    Turn turn = std::move(queue_.front());
    queue_.pop_front();
    if (turn.Context) {
        turn.Work();
    }
    if (queue_.empty()) {
        timer_.stop();
    }
}

} // namespace pellwick
