// The dispatcher's trigger table: timer, data and status triggers under their handles, and the
// availability threshold. The dispatch worker tests them; the program adds, arms and drops
// them. Every operation takes the table's own lock; the dispatcher takes it inside the input
// ring's lock when it scans (never the other way round) and never together with StatusLock.
//
// Handles are multiples of 8; a status trigger's handle carries its kind in the low three bits.
// Handle 1 names the availability trigger, which has no record.
#pragma once

#include "serial/Triggers.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace pellwick {

// What a status trigger is tested against.
struct StatusLevels {
    std::uint32_t modemBits = 0, errorBits = 0; // as ModemBits and ErrorBits
    std::uint32_t outputUsed = 0, outputFree = 0;
};

class TriggerTable {
public:
    // Handles (> 0) or ecTriggerTooLong / ecBadArgument.
    int AddData(const void* bytes, std::uint32_t length, bool ignoreCase);
    int AddTimer();
    int AddStatus(std::uint32_t kind);
    // 0 or ecBadTriggerHandle. ticks 0 keeps the last duration. modemBits: the lines' state
    // now, which a modem watch compares against.
    int ArmTimer(std::uint32_t handle, std::int32_t ticks, bool activate);
    int ArmStatus(std::uint32_t handle, std::uint32_t value, bool activate,
                  std::uint32_t modemBits);
    int Drop(std::uint32_t handle);
    void SetAvailThreshold(std::uint32_t count);
    std::uint32_t AvailThreshold();
    // Drops every trigger; handles start again from the first.
    void Clear();
    void Snapshot(TriggerSaveRecord& save);
    // Puts the saved triggers back, the data triggers without a match made or begun; new
    // handles never repeat a reinstated one.
    void Reinstate(const TriggerSaveRecord& save);

    // Runs bytes through the data triggers until one completes a match (then `matched` is set
    // and `longest` is raised to the longest pattern that matched at that byte). Returns how
    // many bytes it took, the matching one included; all of them without data triggers.
    std::uint32_t Feed(const std::uint8_t* bytes, std::uint32_t n, bool& matched,
                       std::uint32_t& longest);
    // The idx-th data trigger from the last: false past the first. handle is 0 unless that
    // trigger had matched, and its match is then taken.
    bool TakeMatchFromLast(std::size_t idx, std::uint32_t& handle, std::uint32_t& length);
    void ResetDataMatches();

    // The handle of the first armed timer that has run out (disarmed), or 0.
    std::uint32_t TakeExpiredTimer();
    // The handle of the first armed status trigger not hit in this pass that fires (disarmed
    // and marked hit), or 0; extra is the output level for output watches. takeOutputSent
    // reports (and forgets) whether output was queued since the last time.
    std::uint32_t TakeFiredStatus(const StatusLevels& levels,
                                  const std::function<bool()>& takeOutputSent,
                                  std::uint32_t& extra);
    // A status pass: hits are counted from BeginStatusPass; ClearStatusHits lets every status
    // trigger be tested again.
    void BeginStatusPass();
    bool AnyStatusHit();
    void ClearStatusHits();

private:
    std::uint32_t NewHandleLocked();
    bool HandleInUseLocked(std::uint32_t handle) const;

    std::mutex lock_;
    TriggerSaveRecord lists_;
    std::uint32_t nextHandle_ = 1;
    bool statusHit_ = false;
};

} // namespace pellwick
