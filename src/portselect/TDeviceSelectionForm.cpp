#include "portselect/TDeviceSelectionForm.h"

#include "portselect/ProbePort.h"

#include <QCoreApplication>

namespace pellwick {

TDeviceSelectionForm::TDeviceSelectionForm(QObject* parent) : QObject(parent) {
    setObjectName("DeviceSelectionForm");
}

void TDeviceSelectionForm::AddPortEntries() {
    for (int n = 1; n <= kMaxListedPort; ++n) {
        if (ProbePort(n)) {
            entryList_.push_back(kEntryPrefix + std::to_string(n));
        }
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::processEvents();
        }
    }
}

} // namespace pellwick
