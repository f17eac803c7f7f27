// How much of a transfer can have reached the line: the line's byte rate from its framing,
// and, at one moment, the bytes handed to the driver less what the driver still holds, never
// more than the line can have carried since the transfer's first byte was queued. Needs no
// window and no port.
#pragma once

#include <cstdint>

namespace pellwick {

// Bytes per second a line of `baud` carries: each byte takes a start bit, its data bits, a
// parity bit when there is parity, and its stop bits (one and a half with 5 data bits, as the
// line is then set up). 8N1 at 9600 baud carries 960. 0 for a baud of 0 or less.
double LineByteRate(std::int32_t baud, int dataBits, bool parity, int stopBits);

// One moment of a transfer as the driver and the clock tell it.
struct LineMoment {
    std::int64_t Handed = 0;        // bytes of the transfer the driver has accepted
    std::int64_t DriverQueued = -1; // bytes it still holds for output; -1: it does not tell
    bool Drained = false;           // the driver has told that it holds none of them any more
    double Seconds = 0;             // since the transfer's first byte was queued
};

// Bytes of the transfer that can have reached the line at that moment. bytesPerSecond 0 sets
// no bound.
std::int64_t BytesOnLine(const LineMoment& moment, double bytesPerSecond);

// Seconds the line needs for `bytes`; 0 without a rate.
double WireSeconds(std::int64_t bytes, double bytesPerSecond);

} // namespace pellwick
