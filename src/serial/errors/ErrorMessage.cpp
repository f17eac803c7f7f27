#include "serial/errors/ErrorMessage.h"

#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/TVaxoStringResource.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace pellwick {

std::string CleanSystemText(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        const char ch = static_cast<unsigned char>(c) < 32 ? ' ' : c;
        if (ch == ' ' && !clean.empty() && clean.back() == ' ') {
            continue;
        }
        clean.push_back(ch);
    }
    return clean;
}

std::string SystemErrorText(long long id) {
    if (id < 0 || id > INT_MAX) {
        return {};
    }
    // strerrordesc_np answers NULL for numbers the C library does not know, where strerror
    // would make up "Unknown error N"; it is also thread-safe and independent of the locale.
    const char* text = strerrordesc_np(static_cast<int>(id));
    return text == nullptr ? std::string() : CleanSystemText(text);
}

std::string ErrorMessage(const TVaxoStringResource& table, int number) {
    // Widened first: |INT_MIN| does not fit an int.
    const long long id = number < 0 ? -static_cast<long long>(number) : number;
    std::string text = table.GetText(static_cast<std::uint32_t>(id));
    if (text.empty()) {
        text = SystemErrorText(id);
    }
    if (text.size() > kMaxErrorMessageLength) {
        text.resize(kMaxErrorMessageLength);
    }
    return text;
}

std::string ErrorMessage(int number) {
    return ErrorMessage(TVaxoStringResource::ErrorStrings(), number);
}

std::string IoErrorMessage(int number) {
    const int negative = number > 0 ? -number : number;
    if (!IsEngineIoNumber(negative)) {
        if (std::string text = SystemErrorText(-static_cast<long long>(negative)); !text.empty()) {
            return text.substr(0, kMaxErrorMessageLength);
        }
    }
    return ErrorMessage(number);
}

} // namespace pellwick
