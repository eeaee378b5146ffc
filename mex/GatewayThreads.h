// How many threads the update of a MEX or Octave call may use: the
// environment variable CORVANE_THREADS, read at every call, so that
// setenv('CORVANE_THREADS', '2') in MATLAB or Octave takes effect at once.
// Unset or empty: every hardware thread. Every count gives the same bits.
#pragma once

#include "GatewayModel.h"
#include "UpdateModel.h"

namespace corvane::gateway {

// The most threads a call or a detector object may ask for: the core's cap.
using ::corvane::kMaxThreads;

// `text` as a thread count: null or empty (or blanks) gives 0, every
// hardware thread; otherwise a whole number from 0 to kMaxThreads, written in
// decimal digits, blanks around it allowed. Corvane:badThreads for anything
// else, and `threads` is left as it was.
GatewayError ParseThreadSetting(const char* text, int* threads);

// ParseThreadSetting of CORVANE_THREADS as the process sees it now (on
// Windows from the process environment, which MATLAB's setenv changes,
// rather than a C runtime's copy of it).
GatewayError ThreadsFromEnvironment(int* threads);

}  // namespace corvane::gateway
