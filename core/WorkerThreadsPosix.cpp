// Worker threads on POSIX systems (Linux, macOS): pthreads.
#include "WorkerThreads.h"

#include "UpdateModel.h"

#include <exception>
#include <utility>

#include <pthread.h>
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

void RunTasks(int count, void (*task)(void* context, int index), void* context) {
    if (count < 1) return;
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

}  // namespace corvane
