#include "shell/Guard.h"

namespace pellwick {

void PrintUnexpectedFailure(const char* program, const std::string& then, std::FILE* err,
                            std::exception_ptr failure) noexcept {
    const char* what = "an exception of unknown type";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    std::fprintf(err, "\n%s: unexpected failure: %s; %s\n", program, what, then.c_str());
    std::fflush(err);
}

} // namespace pellwick
