// The lamps a status light controller drives, one per serial line or event. The set refers to
// the lamps without owning them: a lamp destroyed elsewhere reads as not assigned from then on.
#pragma once

#include "lights/TVaxoCustomStatusLight.h"

#include <QPointer>
#include <array>
#include <cstddef>

namespace pellwick {

class TLightSet {
public:
    // The slots in their fixed order.
    enum Slot : std::size_t { CTS, DSR, DCD, RING, TXD, RXD, ERROR, BREAK, SlotCount };

    TVaxoCustomStatusLight* Light(Slot slot) const;
    void SetLight(Slot slot, TVaxoCustomStatusLight* light);
    bool Assigned(Slot slot) const { return Light(slot) != nullptr; }
    // Sets every assigned lamp unlit.
    void SetAllUnlit() const;

    TVaxoCustomStatusLight* CTSLight() const { return Light(CTS); }
    void SetCTSLight(TVaxoCustomStatusLight* light) { SetLight(CTS, light); }
    TVaxoCustomStatusLight* DSRLight() const { return Light(DSR); }
    void SetDSRLight(TVaxoCustomStatusLight* light) { SetLight(DSR, light); }
    TVaxoCustomStatusLight* DCDLight() const { return Light(DCD); }
    void SetDCDLight(TVaxoCustomStatusLight* light) { SetLight(DCD, light); }
    TVaxoCustomStatusLight* RINGLight() const { return Light(RING); }
    void SetRINGLight(TVaxoCustomStatusLight* light) { SetLight(RING, light); }
    TVaxoCustomStatusLight* TXDLight() const { return Light(TXD); }
    void SetTXDLight(TVaxoCustomStatusLight* light) { SetLight(TXD, light); }
    TVaxoCustomStatusLight* RXDLight() const { return Light(RXD); }
    void SetRXDLight(TVaxoCustomStatusLight* light) { SetLight(RXD, light); }
    TVaxoCustomStatusLight* ERRORLight() const { return Light(ERROR); }
    void SetERRORLight(TVaxoCustomStatusLight* light) { SetLight(ERROR, light); }
    TVaxoCustomStatusLight* BREAKLight() const { return Light(BREAK); }
    void SetBREAKLight(TVaxoCustomStatusLight* light) { SetLight(BREAK, light); }

private:
    std::array<QPointer<TVaxoCustomStatusLight>, SlotCount> lights_;
};

} // namespace pellwick
