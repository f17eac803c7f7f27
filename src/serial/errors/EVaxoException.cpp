#include "serial/errors/EVaxoException.h"

#include "serial/errors/ErrorMessage.h"

namespace pellwick {

EVaxoException::EVaxoException(int errorNumber)
    : Exception(ErrorMessage(errorNumber)), errorNumber_(errorNumber) {}

EVaxoException::EVaxoException(std::string message)
    : Exception(std::move(message)), errorNumber_(0) {}

} // namespace pellwick
