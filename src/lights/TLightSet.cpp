#include "lights/TLightSet.h"

namespace pellwick {

TVaxoCustomStatusLight* TLightSet::Light(Slot slot) const {
    return slot < SlotCount ? lights_[slot].data() : nullptr;
}

void TLightSet::SetLight(Slot slot, TVaxoCustomStatusLight* light) {
    if (slot < SlotCount) {
        lights_[slot] = light;
    }
}

void TLightSet::SetAllUnlit() const {
    for (const auto& light : lights_) {
        if (light != nullptr) {
            light->setLit(false);
        }
    }
}

} // namespace pellwick
