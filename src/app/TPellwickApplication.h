// The window program's application object. Qt does not let an exception pass through its event
// loop; what a handler, a timer or a posted event leaves uncaught ends here, in the
// application's error report: a box with the exception's message, and the program goes on.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace pellwick {

class TPellwickApplication : public QApplication {
    Q_OBJECT
public:
    using Report = std::function<void(const std::exception& e)>;

    TPellwickApplication(int& argc, char** argv);

    // The current application object, when it is one of these.
    static TPellwickApplication* Instance();
    // The error report; none: the message goes to standard error.
    void SetReport(Report report) { report_ = std::move(report); }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void ReportException(const std::exception& e);

    Report report_;
    // A report that itself throws must not loop.
    bool reporting_ = false;
};

} // namespace pellwick
