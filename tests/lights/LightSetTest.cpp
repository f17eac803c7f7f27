#include "lights/TLightSet.h"
#include "lights/TVaxoStatusLight.h"

#include <gtest/gtest.h>
#include <memory>

namespace pellwick {
namespace {

TEST(LightSet, SlotsStartEmptyAndKeepTheirOwnLamp) {
    TLightSet set;
    for (std::size_t s = 0; s < TLightSet::SlotCount; ++s) {
        EXPECT_FALSE(set.Assigned(static_cast<TLightSet::Slot>(s)));
    }
    TVaxoStatusLight cts;
    TVaxoStatusLight err;
    set.SetCTSLight(&cts);
    set.SetERRORLight(&err);
    EXPECT_EQ(set.Light(TLightSet::CTS), &cts);
    EXPECT_EQ(set.ERRORLight(), &err);
    EXPECT_EQ(set.DSRLight(), nullptr);
    EXPECT_EQ(set.BREAKLight(), nullptr);

    cts.setLit(true);
    err.setLit(true);
    set.SetAllUnlit();
    EXPECT_FALSE(cts.Lit());
    EXPECT_FALSE(err.Lit());
}

TEST(LightSet, DestroyedLampIsNoLongerAssignedAndSetDoesNotOwnLamps) {
    TLightSet set;
    auto rx = std::make_unique<TVaxoStatusLight>();
    TVaxoStatusLight tx;
    set.SetRXDLight(rx.get());
    set.SetTXDLight(&tx);
    rx.reset();
    EXPECT_FALSE(set.Assigned(TLightSet::RXD));
    set.SetAllUnlit();
    {
        TLightSet other;
        other.SetTXDLight(&tx);
    }
    tx.setLit(true);
    EXPECT_TRUE(tx.Lit()) << "the lamp outlives a set that referred to it";
}

} // namespace
} // namespace pellwick
