// The dispatcher's input ring (InputRingSize bytes): the dispatch worker reads the device into
// it and scans the new bytes for data triggers; the program takes them out. Every operation
// takes the ring's own lock; a fill and a stage let it go while they read the device.
//
// While a notice is being handled the ring holds still, so the worker reads what the device
// sends meanwhile into a staging buffer beside the ring (as large as the ring) instead of
// leaving it in the driver; the next fill moves it into the ring first. Staged bytes are input
// not yet in the ring, exactly like input still in the driver: nothing that takes, peeks or
// counts sees them.
//
// While an availability or data notice is delivered, every handler reads the same bytes: what
// a handler takes is only read ahead of the tail, and the bytes leave the ring once, after the
// last handler, by the largest amount any handler took. A wait that takes the input itself
// while no handler runs (SetDirectTakes) is no handler: it takes after what the handlers have
// read, for good.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace pellwick {

class InputRing {
public:
    // Makes the ring and empties it; Release frees it (taking then finds nothing).
    void Allocate();
    void Release();
    bool Allocated();

    // Bytes in the ring, read-ahead included.
    std::uint32_t Used();
    // Bytes the program can take: beyond what the handlers of a delivery have read ahead.
    std::uint32_t Available();
    bool Full();
    // The driver held more input than the ring had room for at the last fill, or input waits
    // in the staging buffer.
    bool MoreInputPending();
    bool HasStagedInput();

    // Takes count bytes, all or none: count, or ecBufferIsEmpty when fewer are there.
    int Take(void* buffer, std::uint32_t count);
    // The n-th byte the program would take next (n = 1 the oldest), without taking it.
    int Peek(std::uint32_t n, std::uint8_t& byte);
    // Discards every byte. Inside a delivery whose handler still runs, the discard happens at
    // the delivery's end instead, so that the handler's reads stay where they are.
    void Discard(bool handlerRunning);

    // Reads the device into the free room of the staging buffer (read as for Fill); false when
    // it got nothing or has no room. Stage and Fill are called by one worker only, and never
    // while another thread releases or allocates the ring.
    bool Stage(const std::function<long(std::uint8_t*, std::uint32_t)>& read);

    // Moves staged input into the ring, then reads the device into the free room. queued() asks the
    // driver how many bytes it holds; read(buffer, count) reads up to count bytes and returns how
    // many it got (<= 0: none). Neither is called under the ring's lock. Returns the staged count
    // plus the driver's count before the read (0 with the ring full: then only whether more waits
    // is noted).
    std::uint32_t Fill(const std::function<std::uint32_t()>& queued,
                       const std::function<long(std::uint8_t*, std::uint32_t)>& read);

    // Hands the bytes not yet scanned to feed(run, n), oldest first, in contiguous runs, under
    // the ring's lock. feed returns how many of the n bytes it took; fewer than n, or all of
    // them with `matched` set, ends the scan after the last byte taken. Returns the position of
    // the byte that completed a match, or of the next byte to scan when none did; `scanned`
    // counts the bytes taken.
    std::uint32_t Scan(
        const std::function<std::uint32_t(const std::uint8_t*, std::uint32_t, bool& matched)>& feed,
        bool& matched, std::uint32_t& scanned);
    // Bytes from the tail through position p; 0 when p has already been taken out.
    std::uint32_t CountThrough(std::uint32_t p);

    // A delivery begins; readsInput: its handlers take input (availability and data notices).
    void BeginDelivery(bool readsInput);
    // One handler of the delivery begins and ends.
    void BeginHandler();
    void EndHandler();
    // The delivery ends: the bytes the handlers took leave the ring. Returns how many.
    std::uint32_t EndDelivery();
    // On: the program takes the input outside the handlers of any delivery (a wait that reads
    // it itself while no handler runs). What the handlers of a delivery in flight have read
    // leaves the ring at once, and each take removes its bytes there and then, whatever the
    // worker still does with that delivery. Off inside a delivery: the handlers that follow
    // read ahead from where the takes stopped.
    void SetDirectTakes(bool on);

private:
    std::uint32_t UsedLocked() const;
    std::uint32_t AvailableLocked() const;
    std::uint32_t TakeStartLocked() const;
    std::uint32_t ReadLocked(const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                             std::uint32_t count);
    long ReadUnlocked(std::unique_lock<std::mutex>& lock,
                      const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                      std::uint8_t* to, std::uint32_t count, bool& kept);
    std::uint32_t ReadIntoRing(std::unique_lock<std::mutex>& lock,
                               const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                               std::uint32_t count);
    void CommitLocked(std::uint32_t got);
    std::uint32_t FreeRunLocked(std::uint32_t& total) const;
    std::uint32_t MoveStagedLocked();

    std::mutex lock_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t head_ = 0, tail_ = 0;
    bool full_ = false;
    bool moreInputPending_ = false;
    bool inDelivery_ = false;         // inside a delivery whose handlers take input, reading ahead
    bool deliveryReadsInput_ = false; // from BeginDelivery to EndDelivery: its handlers take input
    bool directTakes_ = false;
    std::uint32_t readAhead_ = 0, largestReadAhead_ = 0;
    std::uint32_t scanPos_ = 0;   // the next byte to run through the data triggers
    std::uint32_t unscanned_ = 0; // bytes read but not yet run through the data triggers
    std::vector<std::uint8_t> stage_;
    std::uint32_t staged_ = 0;   // bytes waiting at the front of stage_
    std::uint64_t discards_ = 0; // counts Discard calls, so that a read beside one is dropped
};

} // namespace pellwick
