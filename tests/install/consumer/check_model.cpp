// The core alone: an empty model is refused with a message that names the
// problem, and the update knows how many threads it may run on.
#include <corvane/ModelCheck.h>
#include <corvane/UpdateModel.h>

#include <cstdio>

int main() {
    corvane::BackgroundModel model;
    const corvane::ModelCheck check =
        corvane::CheckModel(model, corvane::FrameImage{}, corvane::NeighborhoodMatrix{});
    std::printf("refused %d threads %d message %s\n", check.ok() ? 0 : 1,
                corvane::HardwareThreads() >= 1 ? 1 : 0, check.message);
    return 0;
}
