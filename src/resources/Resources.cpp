#include "resources/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterPictures() {
    Q_INIT_RESOURCE(pictures);
    Q_INIT_RESOURCE(help);
}

namespace pellwick {

void InitResources() {
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
}

} // namespace pellwick
