// corvane: segments videos with the background model and scores masks.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Commands.h"

extern "C" void OnStopSignal(int) { corvane::tools::RequestStop(); }

int main(int argc, char** argv) {
    // Ctrl-C or a polite kill: finish the frame, remove the unfinished output.
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::vector<std::string> args(argv + 1, argv + argc);
    return corvane::tools::RunCorvane(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
