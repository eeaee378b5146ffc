// Worker threads on POSIX systems (Linux, macOS): pthreads.
#include "WorkerThreads.h"

#include "UpdateModel.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <utility>

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
#include <sched.h>
#endif

namespace corvane {
namespace {

struct Assignment {
    void (*task)(void*, int);
    void* context;
    int index;
    std::exception_ptr error;
};

void* RunAssignment(void* argument) {
    Assignment* assignment = static_cast<Assignment*>(argument);
    RunCaught(assignment->task, assignment->context, assignment->index, assignment->error);
    return nullptr;
}

}  // namespace

int HardwareThreads() {
#if defined(__linux__)
    // The CPUs this process may run on (taskset, cgroups' cpusets), which can
    // be fewer than the machine has.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        const int count = CPU_COUNT(&allowed);
        if (count > 0) return count;
    }
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

// Every task on a thread of its own, started and joined here.
void RunOnNewThreads(int count, void (*task)(void* context, int index), void* context) {
    Assignment assignments[kMaxTasks];
    pthread_t threads[kMaxTasks];
    bool started[kMaxTasks];
    const int onThreads = count < kMaxTasks ? count : kMaxTasks;
    for (int i = 1; i < onThreads; ++i) {
        assignments[i] = Assignment{task, context, i, nullptr};
        started[i] = pthread_create(&threads[i], nullptr, &RunAssignment, &assignments[i]) == 0;
    }
    // What the tasks throw, by index; the last slot keeps the first error of
    // the tasks beyond kMaxTasks.
    std::exception_ptr errors[kMaxTasks + 1];
    RunCaught(task, context, 0, errors[0]);
    for (int i = 1; i < onThreads; ++i)
        if (!started[i]) RunCaught(task, context, i, errors[i]);
    for (int i = onThreads; i < count; ++i) {
        std::exception_ptr error;
        RunCaught(task, context, i, error);
        if (!errors[kMaxTasks]) errors[kMaxTasks] = std::move(error);
    }
    for (int i = 1; i < onThreads; ++i)
        if (started[i]) {
            pthread_join(threads[i], nullptr);
            errors[i] = std::move(assignments[i].error);
        }
    RethrowFirst(errors, kMaxTasks + 1);
}


// A crew's threads and the rounds they serve; a round is one RunTasks call.
//
// Waking a thread that sleeps on a condition variable takes tens of
// microseconds on a virtual machine, a large part of what starting one costs.
// So a crew thread that has finished its task first watches its seat for a
// short while (kSpinSeconds) before it sleeps, and the calling thread
// watches the count of pending tasks the same way: the rounds of a frame
// follow each other closely, and a watching thread starts at once. Where the
// crew has more threads than the process has processors, nobody watches
// (a watching thread would hold a processor that a task needs).
struct ThreadCrew::State {
    // Where a crew's thread sits: its task index, the round it was last
    // given (set by the calling thread, release) and the last it ran.
    struct Seat {
        State* state = nullptr;
        int index = 0;
        std::atomic<std::uint64_t> given{0};
        std::uint64_t ran = 0;
    };

    // The round's task, published by the release stores of the seats'
    // rounds; read only by the seats given the round, all of which have
    // finished before the next is published.
    void (*task)(void*, int) = nullptr;
    void* context = nullptr;
    std::uint64_t round = 0;
    std::atomic<bool> stop{false};
    // Seats given the round that have not yet finished it; each writes its
    // task's error before its release decrement.
    std::atomic<int> pending{0};
    // How long to watch before sleeping; set to 0 (by the crew's own thread,
    // while crew threads read it) once the crew outnumbers the processors.
    std::atomic<double> spinSeconds{0};
    pthread_mutex_t mutex;
    pthread_cond_t wake;  // a seat was given a round, or the crew stops
    pthread_cond_t done;  // the round's last task on a crew thread finished
    int sleepers = 0;     // crew threads waiting on `wake` (under `mutex`)
    bool busy = false;  // a round is running: only the crew's own thread reads and writes it
    int threads = 0;    // seats 1 .. threads have a thread (only the crew's own thread)
    pthread_t thread[kMaxTasks];
    Seat seat[kMaxTasks];
    std::exception_ptr error[kMaxTasks];

    static void* Serve(void* argument);
    void Run(int count, void (*task)(void*, int), void* context);
    void AwaitRound(const Seat& seat);
    void AwaitTasks();
};

namespace {

// The crew in scope on this thread, if any.
thread_local ThreadCrew::State* activeCrew = nullptr;

constexpr double kSpinSeconds = 50e-6;

double MonotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Calls ready() until it holds or `seconds` have passed; whether it held.
template <class Ready>
bool SpinUntil(double seconds, Ready ready) {
    if (ready()) return true;
    if (seconds <= 0) return false;
    const double start = MonotonicSeconds();
    for (int i = 1;; ++i) {
        SpinPause();
        if (ready()) return true;
        if ((i & 63) == 0 && MonotonicSeconds() - start > seconds) return false;
    }
}

}  // namespace

// Returns once `seat` has a round it has not run, or the crew stops.
void ThreadCrew::State::AwaitRound(const Seat& seat) {
    const auto moved = [&] {
        return seat.given.load(std::memory_order_acquire) != seat.ran ||
               stop.load(std::memory_order_acquire);
    };
    if (SpinUntil(spinSeconds.load(std::memory_order_relaxed), moved)) return;
    pthread_mutex_lock(&mutex);
    ++sleepers;
    while (!moved()) pthread_cond_wait(&wake, &mutex);
    --sleepers;
    pthread_mutex_unlock(&mutex);
}

void ThreadCrew::State::AwaitTasks() {
    const auto finished = [&] { return pending.load(std::memory_order_acquire) == 0; };
    if (SpinUntil(spinSeconds.load(std::memory_order_relaxed), finished)) return;
    pthread_mutex_lock(&mutex);
    while (!finished()) pthread_cond_wait(&done, &mutex);
    pthread_mutex_unlock(&mutex);
}

void* ThreadCrew::State::Serve(void* argument) {
    Seat& seat = *static_cast<Seat*>(argument);
    State& s = *seat.state;
    for (;;) {
        s.AwaitRound(seat);
        if (s.stop.load(std::memory_order_acquire)) break;
        seat.ran = seat.given.load(std::memory_order_relaxed);
        std::exception_ptr error;
        RunCaught(s.task, s.context, seat.index, error);
        s.error[seat.index] = std::move(error);
        if (s.pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Under the mutex, so that a caller about to wait cannot miss it.
            pthread_mutex_lock(&s.mutex);
            pthread_cond_signal(&s.done);
            pthread_mutex_unlock(&s.mutex);
        }
    }
    return nullptr;
}

void ThreadCrew::State::Run(int count, void (*task)(void*, int), void* context) {
    const int onThreads = count < kMaxTasks ? count : kMaxTasks;
    // Threads for the seats this round needs that have none yet; a seat
    // whose thread cannot be started runs on the calling thread.
    while (threads < onThreads - 1) {
        const int i = threads + 1;
        seat[i].state = this;
        seat[i].index = i;
        seat[i].ran = seat[i].given.load(std::memory_order_relaxed);
        if (pthread_create(&thread[i], nullptr, &Serve, &seat[i]) != 0) break;
        threads = i;
        if (threads + 1 > HardwareThreads()) spinSeconds.store(0, std::memory_order_relaxed);
    }
    const int onCrew = threads < onThreads - 1 ? threads : onThreads - 1;
    this->task = task;
    this->context = context;
    pending.store(onCrew, std::memory_order_relaxed);
    busy = true;
    ++round;
    pthread_mutex_lock(&mutex);
    for (int i = 1; i <= onCrew; ++i) seat[i].given.store(round, std::memory_order_release);
    const bool asleep = sleepers > 0;
    pthread_mutex_unlock(&mutex);
    if (asleep && onCrew > 0) pthread_cond_broadcast(&wake);
    // What the tasks throw, by index; the last slot keeps the first error of
    // the tasks beyond kMaxTasks.
    std::exception_ptr errors[kMaxTasks + 1];
    RunCaught(task, context, 0, errors[0]);
    for (int i = onCrew + 1; i < onThreads; ++i) RunCaught(task, context, i, errors[i]);
    for (int i = onThreads; i < count; ++i) {
        std::exception_ptr error;
        RunCaught(task, context, i, error);
        if (!errors[kMaxTasks]) errors[kMaxTasks] = std::move(error);
    }
    AwaitTasks();
    for (int i = 1; i <= onCrew; ++i) errors[i] = std::move(error[i]);
    busy = false;
    RethrowFirst(errors, kMaxTasks + 1);
}

ThreadCrew::ThreadCrew() noexcept : state_(nullptr) {
    static_assert(sizeof(State) <= kStateBytes && alignof(State) <= 64,
                  "a crew's state must fit the bytes kept for it");
    if (activeCrew != nullptr) return;
    // In the crew's own bytes: a crew allocates nothing.
    State* s = new (static_cast<void*>(storage_)) State;
    if (pthread_mutex_init(&s->mutex, nullptr) != 0) {
        s->~State();
        return;
    }
    if (pthread_cond_init(&s->wake, nullptr) != 0) {
        pthread_mutex_destroy(&s->mutex);
        s->~State();
        return;
    }
    if (pthread_cond_init(&s->done, nullptr) != 0) {
        pthread_cond_destroy(&s->wake);
        pthread_mutex_destroy(&s->mutex);
        s->~State();
        return;
    }
    s->spinSeconds.store(kSpinSeconds, std::memory_order_relaxed);
    state_ = s;
    activeCrew = s;
}

ThreadCrew::~ThreadCrew() {
    State* s = state_;
    if (s == nullptr) return;
    activeCrew = nullptr;
    pthread_mutex_lock(&s->mutex);
    s->stop.store(true, std::memory_order_release);
    pthread_mutex_unlock(&s->mutex);
    pthread_cond_broadcast(&s->wake);
    for (int i = 1; i <= s->threads; ++i) pthread_join(s->thread[i], nullptr);
    pthread_cond_destroy(&s->done);
    pthread_cond_destroy(&s->wake);
    pthread_mutex_destroy(&s->mutex);
    s->~State();
}

int ThreadCrew::Threads() const noexcept { return state_ == nullptr ? 0 : state_->threads; }

void RunTasks(int count, void (*task)(void* context, int index), void* context) {
    if (count < 1) return;
    // activeCrew is this thread's: a crew thread has none, and a task on this
    // thread that calls RunTasks during a round finds its crew busy.
    ThreadCrew::State* crew = activeCrew;
    if (crew != nullptr && count > 1 && !crew->busy) {
        crew->Run(count, task, context);
        return;
    }
    RunOnNewThreads(count, task, context);
}

}  // namespace corvane
