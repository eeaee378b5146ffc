// Worker threads on Windows: the Win32 API of KERNEL32.dll, which every
// Windows process has (the MinGW-w64 "win32" compilers that build the MEX
// files have no std::thread, and the MEX files may import nothing else).
#include "WorkerThreads.h"

#include "UpdateModel.h"

#include <exception>
#include <utility>

#include <windows.h>

namespace corvane {
namespace {

struct Assignment {
    void (*task)(void*, int);
    void* context;
    int index;
    std::exception_ptr error;
};

DWORD WINAPI RunAssignment(LPVOID argument) {
    Assignment* assignment = static_cast<Assignment*>(argument);
    RunCaught(assignment->task, assignment->context, assignment->index, assignment->error);
    return 0;
}

}  // namespace

int HardwareThreads() {
    // The processors this process may run on, which can be fewer than the
    // machine has.
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        int count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

// Windows keeps no crew: every RunTasks starts and joins its own threads.
struct ThreadCrew::State {};
ThreadCrew::ThreadCrew() noexcept : state_(nullptr) {}
ThreadCrew::~ThreadCrew() {}
int ThreadCrew::Threads() const noexcept { return 0; }

void RunTasks(int count, void (*task)(void* context, int index), void* context) {
    if (count < 1) return;
    Assignment assignments[kMaxTasks];
    HANDLE threads[kMaxTasks];
    const int onThreads = count < kMaxTasks ? count : kMaxTasks;
    for (int i = 1; i < onThreads; ++i) {
        assignments[i] = Assignment{task, context, i, nullptr};
        threads[i] = CreateThread(nullptr, 0, &RunAssignment, &assignments[i], 0, nullptr);
    }
    // What the tasks throw, by index; the last slot keeps the first error of
    // the tasks beyond kMaxTasks.
    std::exception_ptr errors[kMaxTasks + 1];
    RunCaught(task, context, 0, errors[0]);
    for (int i = 1; i < onThreads; ++i)
        if (threads[i] == nullptr) RunCaught(task, context, i, errors[i]);
    for (int i = onThreads; i < count; ++i) {
        std::exception_ptr error;
        RunCaught(task, context, i, error);
        if (!errors[kMaxTasks]) errors[kMaxTasks] = std::move(error);
    }
    // One thread at a time: WaitForMultipleObjects takes at most 64 handles.
    for (int i = 1; i < onThreads; ++i) {
        if (threads[i] != nullptr) {
            WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
            errors[i] = std::move(assignments[i].error);
        }
    }
    RethrowFirst(errors, kMaxTasks + 1);
}

}  // namespace corvane
