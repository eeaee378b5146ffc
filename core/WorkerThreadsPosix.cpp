// Worker threads on POSIX systems (Linux, macOS): pthreads.
#include "WorkerThreads.h"

#include "UpdateModel.h"

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
};

void* RunAssignment(void* argument) {
    const Assignment* assignment = static_cast<const Assignment*>(argument);
    assignment->task(assignment->context, assignment->index);
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
        assignments[i] = Assignment{task, context, i};
        started[i] = pthread_create(&threads[i], nullptr, &RunAssignment, &assignments[i]) == 0;
    }
    task(context, 0);
    for (int i = 1; i < onThreads; ++i)
        if (!started[i]) task(context, i);
    for (int i = onThreads; i < count; ++i) task(context, i);
    for (int i = 1; i < onThreads; ++i)
        if (started[i]) pthread_join(threads[i], nullptr);
}

}  // namespace corvane
