// Running a few tasks at once on threads that live for one call: the update's
// bands, and the per-pixel steps of setup/ (the mask's filters, the steps
// between frames).
//
// The threads are started when RunTasks is called and joined before it
// returns, or, while a ThreadCrew is in scope on the calling thread, kept for
// its next calls and joined when the crew goes out of scope. Either way no
// thread outlives the call into the core that started it: a host may unload
// the code (a MEX file between two calls, say) at any time it is not inside
// one. The tasks must not call the host's allocator or any other host API:
// inside MATLAB and Octave only the host's own thread may.
#pragma once

#include <cstddef>
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

// Keeps the threads that RunTasks starts on the constructing thread alive
// from one call to the next, for as long as the crew is in scope: a frame
// runs RunTasks about ten times, and waking a waiting thread costs a fraction
// of starting a new one. The threads are started when a call first needs
// them and stopped and joined by the destructor, so a crew belongs in the
// scope of one call into the core (one frame), never in anything that
// outlives it. Within the scope RunTasks behaves exactly as without it
// (which task runs where, what it throws, what the caller sees); a task that
// calls RunTasks itself gets threads of its own, as without a crew. A crew
// made while another is in scope on the same thread does nothing (the outer
// one serves), and so does a crew on a platform without one (Windows).
// Its state lives inside the object (about 12 KB on a 64-bit system, on the
// stack of the call it serves), so making a crew allocates nothing and
// cannot fail for want of memory.
class ThreadCrew {
public:
    ThreadCrew() noexcept;
    ~ThreadCrew();
    ThreadCrew(const ThreadCrew&) = delete;
    ThreadCrew& operator=(const ThreadCrew&) = delete;

    // The threads the crew has started and not yet joined (0 when it does
    // nothing): for tests.
    int Threads() const noexcept;

    struct State;
    // The bytes that hold a crew's state.
    static constexpr std::size_t kStateBytes = 16384;

private:
    alignas(64) unsigned char storage_[kStateBytes];
    State* state_;
};

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
