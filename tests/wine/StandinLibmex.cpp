// A stand-in for MATLAB's libmex.dll, for running the Windows MEX file under
// Wine. mexErrMsgIdAndTxt ends the MEX call the way MATLAB's C interface
// does, by a long jump back to the caller; no C++ exception ever travels
// through the MEX file (on 32-bit Windows one could not cross from DLL to DLL).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "StandinApi.h"

namespace {
std::jmp_buf* gTarget = nullptr;
int gWarnings = 0;
void (*gAtExit)(void) = nullptr;
char gId[128];
char gMessage[1024];
}  // namespace

extern "C" {

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    std::snprintf(gId, sizeof gId, "%s", identifier != nullptr ? identifier : "");
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(gMessage, sizeof gMessage, format, args);
    va_end(args);
    if (gTarget == nullptr) {
        std::fprintf(stderr, "unexpected MEX error %s: %s\n", gId, gMessage);
        std::exit(3);
    }
    std::longjmp(*gTarget, 1);
}

void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char message[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::printf("warning %s: %s\n", identifier != nullptr ? identifier : "", message);
    ++gWarnings;
}

int mexAtExit(void (*function)(void)) {
    gAtExit = function;
    return 0;
}

int StandinWarningCount(void) { return gWarnings; }

// Runs the function the MEX file registered with mexAtExit, as MATLAB does
// before it unloads the file.
void StandinRunAtExit(void) {
    if (gAtExit != nullptr) gAtExit();
    gAtExit = nullptr;
}

void StandinSetErrorTarget(std::jmp_buf* target) {
    gTarget = target;
    gId[0] = '\0';
    gMessage[0] = '\0';
}

const char* StandinLastErrorId(void) { return gId; }
const char* StandinLastErrorMessage(void) { return gMessage; }

}  // extern "C"
