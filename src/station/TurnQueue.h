// Work that holds the GUI thread for a few milliseconds (opening a port, starting a board's
// run), taken one piece per round of the event loop: sixteen boards plugged in at once would
// otherwise open sixteen ports and start sixteen runs in one round, and every other slot's
// events and the window would wait for all of them together.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

namespace pellwick {

class TurnQueue : public QObject {
    Q_OBJECT
public:
    explicit TurnQueue(QObject* parent = nullptr);

    // Runs work in a later round of the event loop, after what was added before, unless
    // context is gone by then.
    void Add(QObject* context, std::function<void()> work);
    void Clear() { queue_.clear(); }

private:
    void Next();

    struct Turn {
        QPointer<QObject> Context;
        std::function<void()> Work;
    };
    std::deque<Turn> queue_;
    QTimer timer_; // 0 ms: one turn each time the event loop comes round
};

} // namespace pellwick
