#include "app/TPellwickApplication.h"

#include <cstdio>
#include <stdexcept>

namespace pellwick {

TPellwickApplication::TPellwickApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TPellwickApplication* TPellwickApplication::Instance() {
    return qobject_cast<TPellwickApplication*>(QCoreApplication::instance());
}

bool TPellwickApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
        ReportException(std::runtime_error("An unexpected error occurred."));
    }
    return false;
}

void TPellwickApplication::ReportException(const std::exception& e) {
    if (reporting_ || !report_) {
        std::fprintf(stderr, "pellwick: %s\n", e.what());
        return;
    }
    reporting_ = true;
    try {
        report_(e);
    } catch (...) {
        std::fprintf(stderr, "pellwick: %s\n", e.what());
    }
    reporting_ = false;
}

} // namespace pellwick
