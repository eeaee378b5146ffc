"""What a batch gives back: the error that stops it, and each video's result."""

import dataclasses


class BatchError(ValueError):
    """Inputs, options or the command that a batch cannot start with."""


@dataclasses.dataclass
class VideoResult:
    """What became of one video."""
    name: str        # the output folder's name under the output root
    input: str       # the input as the command was given it (absolute)
    output: str      # OUTROOT/<name>
    status: str      # "done", "skipped" (already complete), "short" (the input ended
                     # before the length it announced; its masks are kept) or "failed"
    frames: int      # masks in the output (0 when failed)
    seconds: float   # wall time of the task
    error: str = ""  # why it failed, in the command's words


@dataclasses.dataclass
class BatchResult:
    videos: list
    seconds: float   # wall time of the whole batch

    @property
    def failed(self):
        return [v for v in self.videos if v.status == "failed"]

    @property
    def short(self):
        """Videos that ended before the length they announced (masks kept)."""
        return [v for v in self.videos if v.status == "short"]

    @property
    def frames_segmented(self):
        return sum(v.frames for v in self.videos if v.status == "done")

    @property
    def frames_per_second(self):
        return self.frames_segmented / self.seconds if self.seconds > 0 else 0.0
