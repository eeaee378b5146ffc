// Running a few tasks at once on threads that live for one call: the update's
// bands, and the per-pixel steps of setup/ (the mask's filters, the steps
// between frames).
//
// The threads are started when RunTasks is called and joined before it
// returns, so no thread outlives the call: a host may unload the code (a MEX
// file between two calls, say) at any time it is not inside one. The tasks
// must not call the host's allocator or any other host API: inside MATLAB and
// Octave only the host's own thread may.
#pragma once

#include <exception>

#include "UpdateModel.h"

namespace corvane {

// The most tasks RunTasks runs at once; more are run by the calling thread.
constexpr int kMaxTasks = kMaxThreads;

// HardwareThreads() (UpdateModel.h) tells how many threads the machine can
// run at once.

// Runs task(context, i) for every i in 0 .. count-1 and returns when all have
// finished. Task 0 runs on the calling thread, the others each on a thread of
// its own; a task whose thread cannot be started (the system is out of
// threads, or count exceeds kMaxTasks) runs on the calling thread after task
// 0. The tasks must therefore not wait for each other. Every write a task
// makes is visible to the caller when RunTasks returns.
//
// An exception never leaves a task's thread (that would end the process):
// what a task throws is kept, the other tasks still run to their end, and
// once all have finished RunTasks throws, on the calling thread, what the
// task of the lowest index threw.
void RunTasks(int count, void (*task)(void* context, int index), void* context);

// Runs task(context, index), keeping what it throws in `error`. For the two
// platforms' RunTasks.
inline void RunCaught(void (*task)(void*, int), void* context, int index,
                      std::exception_ptr& error) noexcept {
    try {
        task(context, index);
    } catch (...) {
        error = std::current_exception();
    }
}

// Throws the first error of errors[0 .. count-1] that is set, if any.
inline void RethrowFirst(const std::exception_ptr* errors, int count) {
    for (int i = 0; i < count; ++i)
        if (errors[i]) std::rethrow_exception(errors[i]);
}

}  // namespace corvane
