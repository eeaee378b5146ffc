// corvane: segments videos with the background model and scores masks.
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return corvane::tools::RunCorvane(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
