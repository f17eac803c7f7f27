#include "terminal/TVaxoTerminal.h"

namespace pellwick {

TVaxoTerminal::TVaxoTerminal(QWidget* parent) : TVaxoCustomTerminal(parent) {}

} // namespace pellwick
