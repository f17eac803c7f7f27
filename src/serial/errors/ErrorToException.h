// Turns a result of the serial engine into an exception: results >= 0 pass through, a
// negative result raises the class of its error number (see ErrorNumbers.h).
#pragma once

namespace pellwick {

// Returns result when it is >= 0, or unchanged while the owner is still being loaded from its
// stored settings (the caller then handles the negative result itself). Otherwise raises:
//  - the EVaxoException class of the number, when it has one;
//  - -8: EOutOfMemoryError; -162..-2: EIoError with IoErrorMessage(result), code |result|;
//  - anything else: EVaxoException "Vaxo exception" with error number 0.
int ErrorToException(int result, bool ownerLoading = false);

} // namespace pellwick
