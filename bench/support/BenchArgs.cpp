#include "BenchArgs.h"

#include <cstring>

namespace pellwick::bench {

bool TakeLeadingFlag(int& argc, char**& argv, const char* flag) {
    if (argc < 2 || std::strcmp(argv[1], flag) != 0) {
        return false;
    }
    --argc;
    ++argv;
    return true;
}

} // namespace pellwick::bench
