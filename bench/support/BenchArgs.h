// Reading a benchmark's command line.
#pragma once

namespace pellwick::bench {

// Whether the first argument after the program's name is flag; if so argv moves past it, so that
// argv[1] is the argument after the flag (argv[0] is then the flag, not the program's name).
bool TakeLeadingFlag(int& argc, char**& argv, const char* flag);

} // namespace pellwick::bench
