// The terminal control as the program places it: all logic is in TVaxoCustomTerminal.
#pragma once

#include "terminal/TVaxoCustomTerminal.h"

namespace pellwick {

class TVaxoTerminal : public TVaxoCustomTerminal {
    Q_OBJECT
public:
    explicit TVaxoTerminal(QWidget* parent = nullptr);
};

} // namespace pellwick
