// Why a port could not be opened, as one line for the user. The device layer notes it where the
// failure happens (it knows the path and the system's reason); whoever reports the failed open
// takes the note and shows it below its own message. Notes are kept per thread, as an open runs
// on the thread that asked for it.
#pragma once

#include <cstdint>
#include <string>

namespace pellwick {

// "<path>: <reason>", for an errno value: EACCES and EPERM name the group `dialout`, EBUSY
// names the holder when it is known.
std::string DescribeOpenFailure(const std::string& devicePath, int err,
                                const std::string& holder = {});

// "<path>: the adapter ... <rate> baud ...": the driver refused the rate, or (made != 0) made
// another rate instead.
std::string DescribeRateRefusal(const std::string& devicePath, std::uint32_t rate,
                                std::uint32_t made);

void NoteOpenFailure(std::string line);
void ClearOpenFailure();
// The note of this thread (empty when there is none); the note is cleared.
std::string TakeOpenFailure();

// text, with the note of this thread on the next line when there is one.
std::string WithOpenFailure(const std::string& text);

} // namespace pellwick
