// One exception guard for every program: no exception reaches std::terminate. What a program's
// body, an event handler or a callback lets out is printed as one message that says what
// failed and what follows from it, and the caller decides the rest (an exit status, going on).
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace pellwick {

// "\n<program>: unexpected failure: <what>; <then>": the blank line ends a progress line that
// may be under way.
void PrintUnexpectedFailure(const char* program, const std::string& then, std::FILE* err,
                            std::exception_ptr failure) noexcept;

// Runs f; false when an exception came out of it (it has been printed).
template <typename F>
bool Guard(const char* program, const std::string& then, std::FILE* err, F&& f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        PrintUnexpectedFailure(program, then, err, std::current_exception());
        return false;
    }
}

// An application object that lets no exception out of the event loop (Qt cannot pass one
// through): what a handler, a timer or a posted event leaves uncaught is printed on standard
// error and the program goes on.
template <typename Base> class GuardedApplication : public Base {
public:
    GuardedApplication(int& argc, char** argv, const char* program, std::string then)
        : Base(argc, argv), program_(program), then_(std::move(then)) {}

    bool notify(QObject* receiver, QEvent* event) override {
        bool handled = false;
        Guard(program_, then_, stderr, [&] { handled = Base::notify(receiver, event); });
        return handled;
    }

private:
    const char* program_;
    std::string then_;
};

} // namespace pellwick
