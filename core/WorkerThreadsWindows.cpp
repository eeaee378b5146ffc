// Worker threads on Windows: the Win32 API of KERNEL32.dll, which every
// Windows process has (the MinGW-w64 "win32" compilers that build the MEX
// files have no std::thread, and the MEX files may import nothing else).
#include "WorkerThreads.h"

#include "UpdateModel.h"

#include <windows.h>

namespace corvane {
namespace {

struct Assignment {
    void (*task)(void*, int);
    void* context;
    int index;
};

DWORD WINAPI RunAssignment(LPVOID argument) {
    const Assignment* assignment = static_cast<const Assignment*>(argument);
    assignment->task(assignment->context, assignment->index);
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

void RunTasks(int count, void (*task)(void* context, int index), void* context) {
    if (count < 1) return;
    Assignment assignments[kMaxTasks];
    HANDLE threads[kMaxTasks];
    const int onThreads = count < kMaxTasks ? count : kMaxTasks;
    for (int i = 1; i < onThreads; ++i) {
        assignments[i] = Assignment{task, context, i};
        threads[i] = CreateThread(nullptr, 0, &RunAssignment, &assignments[i], 0, nullptr);
    }
    task(context, 0);
    for (int i = 1; i < onThreads; ++i)
        if (threads[i] == nullptr) task(context, i);
    for (int i = onThreads; i < count; ++i) task(context, i);
    // One thread at a time: WaitForMultipleObjects takes at most 64 handles.
    for (int i = 1; i < onThreads; ++i) {
        if (threads[i] != nullptr) {
            WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
        }
    }
}

}  // namespace corvane
