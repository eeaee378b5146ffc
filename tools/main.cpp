// corvane: segments videos with the background model and scores masks.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Commands.h"

// Ctrl-C or a polite kill: finish the frame, remove the unfinished output.
// A second one stops at once: the user wants out even if a frame or a read
// hangs.
extern "C" void OnStopSignal(int signal) {
    if (corvane::tools::RequestStop(signal)) _exit(128 + signal);
}

int main(int argc, char** argv) {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::vector<std::string> args(argv + 1, argv + argc);
    return corvane::tools::RunCorvane(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
