// No window, though named a form: a QObject that lists the ports as the communication settings
// dialog offers them, "Direct to COM" + n for every port n = 1..50 the probe finds. The
// settings dialog creates it, calls AddPortEntries and copies EntryList into its own port list.
#pragma once

#include <QObject>
#include <string>
#include <vector>

namespace pellwick {

class TDeviceSelectionForm : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kEntryPrefix = "Direct to COM";

    explicit TDeviceSelectionForm(QObject* parent = nullptr);

    // Appends an entry for each port found, in ascending order. Pending application events are
    // processed after each port, so the program stays responsive while up to 50 devices are
    // opened and closed. GUI thread only.
    void AddPortEntries();

    // Empty until AddPortEntries found a port.
    const std::vector<std::string>& EntryList() const { return entryList_; }

private:
    std::vector<std::string> entryList_;
};

} // namespace pellwick
