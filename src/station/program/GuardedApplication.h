// An application object that lets no exception out of the event loop: Qt cannot pass one
// through, so what a handler, a timer or a posted event leaves uncaught is printed here with
// its message and the station goes on.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdio>
#include <exception>

namespace pellwick {

template <typename Base> class GuardedApplication : public Base {
public:
    GuardedApplication(int& argc, char** argv) : Base(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return Base::notify(receiver, event);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellwick-station: unexpected failure: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "pellwick-station: unexpected failure\n");
        }
        return false;
    }
};

} // namespace pellwick
