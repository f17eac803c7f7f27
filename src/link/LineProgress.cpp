#include "link/LineProgress.h"

#include <algorithm>
#include <cmath>

namespace pellwick {

double LineByteRate(std::int32_t baud, int dataBits, bool parity, int stopBits) {
    if (baud <= 0) {
        return 0;
    }
    const double stop = dataBits == 5 ? 1.5 : stopBits == 2 ? 2.0 : 1.0;
    const double bitsPerByte = 1.0 + dataBits + (parity ? 1.0 : 0.0) + stop;
    return baud / bitsPerByte;
}

std::int64_t BytesOnLine(const LineMoment& moment, double bytesPerSecond) {
    const std::int64_t handed = std::max<std::int64_t>(moment.Handed, 0);
    if (moment.Drained) {
        return handed;
    }
    // What the driver holds is still to go; that the rest has gone is only as true as the
    // line's rate allows (a driver that does not tell holds an unknown amount).
    std::int64_t left = handed - std::max<std::int64_t>(moment.DriverQueued, 0);
    if (bytesPerSecond > 0) {
        const double carried = std::floor(std::max(moment.Seconds, 0.0) * bytesPerSecond);
        if (carried < static_cast<double>(left)) {
            left = static_cast<std::int64_t>(carried);
        }
    }
    return std::max<std::int64_t>(left, 0);
}

double WireSeconds(std::int64_t bytes, double bytesPerSecond) {
    return bytesPerSecond > 0 && bytes > 0 ? static_cast<double>(bytes) / bytesPerSecond : 0;
}

} // namespace pellwick
