// How the Wine drivers call a MEX file: its entry point's type and, for the
// 32-bit file, a call with the stack aligned to 4 bytes only. 32-bit Windows
// code may call with no more (MSVC keeps no more), so the 32-bit MEX file is
// always called that way: the stack pointer is 4 past a 16-byte boundary at
// the call instead of on it. Each driver is its own program and includes this
// once.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "StandinApi.h"

using MexFunction = void (*)(int, mxArray**, int, const mxArray**);

// MATLAB's loader is given Windows paths; accept the Unix paths CTest passes
// by mapping them onto Wine's Z: drive, which shows the whole Unix tree.
inline std::string WindowsPath(const char* path) {
    std::string out = path;
    if (!out.empty() && out[0] == '/') out = "Z:" + out;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

// Loads the MEX file: its entry point, or null after saying on standard
// output why it could not be had.
inline MexFunction LoadMexFunction(const std::string& mexPath, HMODULE* loaded) {
    HMODULE library = LoadLibraryA(mexPath.c_str());
    *loaded = library;
    if (library == nullptr) {
        std::printf("FAILED: LoadLibrary(%s): error %lu\n", mexPath.c_str(), GetLastError());
        return nullptr;
    }
    const auto mex = reinterpret_cast<MexFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "mexFunction")));
    if (mex == nullptr) std::printf("FAILED: %s exports no mexFunction\n", mexPath.c_str());
    return mex;
}

#if defined(__i386__)
extern "C" void CallWithStackOffByFour(MexFunction mex, int nlhs, mxArray** plhs, int nrhs,
                                       const mxArray** prhs);
asm(R"(
    .text
    .globl _CallWithStackOffByFour
_CallWithStackOffByFour:
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    subl $12, %esp
    pushl 24(%ebp)
    pushl 20(%ebp)
    pushl 16(%ebp)
    pushl 12(%ebp)
    call *8(%ebp)
    movl %ebp, %esp
    popl %ebp
    ret
)");
#endif
