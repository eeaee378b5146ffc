// A request to stop a run early, set from a signal handler or another thread
// and looked at between frames, and how a run ended.
#pragma once

#include <atomic>
#include <csignal>

namespace corvane::tools {

class StopFlag {
public:
    // Asks the run to stop; `signal` (SIGINT, SIGTERM, ...) decides the exit
    // status. Safe to call from a signal handler (the flag is lock-free).
    void Request(int signal) { signal_.store(signal); }
    void Clear() { signal_.store(0); }
    bool Requested() const { return signal_.load() != 0; }
    // The status of a process stopped by the signal: 128 + its number
    // (130 for Ctrl-C, 143 for SIGTERM), as shells report it.
    int ExitStatus() const { return 128 + signal_.load(); }

private:
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets the flag");
    std::atomic<int> signal_{0};
};

// Whether a stop signal that comes after an earlier one ends the process at
// once, skipping the clean-up. `sender` is the sending process (0 for the
// kernel, e.g. Ctrl-C at a terminal), `parent` the process that started this
// one. A SIGTERM from the parent does not: a parent that dies sends its
// parent-death signal once per exiting thread, and a supervisor may repeat a
// polite kill; neither wants the output left half-written.
inline bool RepeatStopsAtOnce(int signal, long sender, long parent) {
    return !(signal == SIGTERM && sender != 0 && sender == parent);
}

// How a run that looks at a StopFlag ended.
enum class RunStatus { Done, Failed, Interrupted };

}  // namespace corvane::tools
