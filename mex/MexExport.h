// CORVANE_EXPORT: the mark of a MEX file's one exported symbol, mexFunction,
// whatever the default visibility of the build.
#pragma once

#if defined(_WIN32)
#define CORVANE_EXPORT __declspec(dllexport)
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif
