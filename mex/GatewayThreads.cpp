#include "GatewayThreads.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace corvane::gateway {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

GatewayError ParseThreadSetting(const char* text, int* threads) {
    if (text == nullptr) {
        *threads = 0;
        return GatewayError{};
    }
    const char* c = text;
    while (IsBlank(*c)) ++c;
    if (*c == '\0') {  // empty or blanks: every thread
        *threads = 0;
        return GatewayError{};
    }
    long value = 0;
    int digits = 0;
    for (; *c >= '0' && *c <= '9'; ++c, ++digits)
        if (value <= kMaxThreads) value = value * 10 + (*c - '0');
    while (IsBlank(*c)) ++c;
    if (digits > 0 && *c == '\0' && value <= kMaxThreads) {
        *threads = static_cast<int>(value);
        return GatewayError{};
    }
    char shown[40];
    int i = 0;
    for (; text[i] != '\0' && i < 32; ++i) shown[i] = text[i];
    shown[i] = '\0';
    return MakeError("Corvane:badThreads",
                     "the environment variable CORVANE_THREADS is \"%s%s\"; it must be a whole "
                     "number from 0 to %d (0, or unset: every hardware thread)",
                     shown, text[i] != '\0' ? "..." : "", kMaxThreads);
}

GatewayError ThreadsFromEnvironment(int* threads) {
#if defined(_WIN32)
    char value[64];
    const DWORD length = GetEnvironmentVariableA("CORVANE_THREADS", value, sizeof value);
    if (length == 0) return ParseThreadSetting(nullptr, threads);  // unset (or empty)
    if (length >= sizeof value) return ParseThreadSetting("(longer than 63 characters)", threads);
    return ParseThreadSetting(value, threads);
#else
    return ParseThreadSetting(std::getenv("CORVANE_THREADS"), threads);
#endif
}

}  // namespace corvane::gateway
