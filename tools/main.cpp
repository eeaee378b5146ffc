// corvane: segments videos with the background model and scores masks.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Commands.h"
#include "StopFlag.h"

namespace {

// The process that started this one; read before any signal can come.
volatile pid_t parentAtStart = 0;

}  // namespace

// Ctrl-C or a polite kill: finish the frame, remove the unfinished output.
// A second one stops at once: the user wants out even if a frame or a read
// hangs. A SIGTERM from the parent never does: a dying parent sends its
// parent-death signal again as the child passes from one of its exiting
// threads to the next, and the child must still clean up.
extern "C" void OnStopSignal(int signal, siginfo_t* info, void*) {
    const pid_t sender = info != nullptr && info->si_code <= 0 ? info->si_pid : 0;
    const bool again = corvane::tools::RequestStop(signal);
    if (again && corvane::tools::RepeatStopsAtOnce(signal, sender, parentAtStart))
        _exit(128 + signal);
}

int main(int argc, char** argv) {
    parentAtStart = getppid();
    struct sigaction action = {};
    action.sa_sigaction = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away (a dead parent, `| head`) must not kill the
    // command before it has finished or cleaned up: a failed write of a
    // message is no reason to lose the output.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    return corvane::tools::RunCorvane(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
