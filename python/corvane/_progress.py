"""A batch's progress: a line per finished video, a bar on a terminal, and
the closing table."""

import time


def _tqdm_bar(stream, total):
    """tqdm's bar (Debian's python3-tqdm) on `stream`, or None without tqdm."""
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, file=stream, unit="video", leave=False, dynamic_ncols=True,
                bar_format="{bar} {n_fmt}/{total_fmt} videos {elapsed}<{remaining}{postfix}")


class _Progress:
    """One line per finished video; on a terminal, an overall bar below them
    (tqdm's where it is installed)."""

    def __init__(self, stream, total, enabled):
        self.stream, self.total, self.enabled = stream, total, enabled
        self.bar = enabled and hasattr(stream, "isatty") and stream.isatty()
        self.done = self.frames = 0
        self.start = time.monotonic()
        self.tqdm = _tqdm_bar(stream, total) if self.bar else None

    def finished(self, video):
        self.done += 1
        if video.status == "done":
            self.frames += video.frames
        if not self.enabled:
            return
        if video.status == "failed":
            line = f"failed   {video.name}: {video.error}"
        elif video.status == "short":
            line = f"short    {video.name}: {video.frames} frames kept; {video.error}"
        else:
            line = f"{video.status:<8} {video.name}: {video.frames} frames, {video.seconds:.1f} s"
        if self.tqdm is not None:
            self.tqdm.write(line, file=self.stream)
            self.tqdm.update(1)
        else:
            self._write(("\r\x1b[K" if self.bar else "") + line + "\n")
        self.draw()

    def draw(self):
        if not self.bar:
            return
        if self.tqdm is not None:
            elapsed = time.monotonic() - self.start
            fps = self.frames / elapsed if elapsed > 0 else 0.0
            self.tqdm.set_postfix_str(f"{fps:.1f} frames/s")
            return
        width = 30
        filled = width * self.done // max(self.total, 1)
        elapsed = time.monotonic() - self.start
        fps = self.frames / elapsed if elapsed > 0 else 0.0
        self._write(f"\r[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total} videos"
                    f"  {fps:.1f} frames/s ")

    def close(self):
        if self.tqdm is not None:
            self.tqdm.close()
        elif self.bar:
            self._write("\r\x1b[K")

    def _write(self, text):
        self.stream.write(text)
        self.stream.flush()


def summary(result):
    """The table printed at the end: video, frames, seconds, status."""
    width = max([5] + [len(v.name) for v in result.videos])
    lines = [f"{'video':<{width}}  {'frames':>7}  {'seconds':>8}  status"]
    for v in result.videos:
        lines.append(f"{v.name:<{width}}  {v.frames:>7}  {v.seconds:>8.1f}  {v.status}"
                     + (f": {v.error}" if v.error else ""))
    counts = {s: sum(v.status == s for v in result.videos)
              for s in ("done", "skipped", "short", "failed")}
    short = (f"{counts['short']} short (masks kept, input shorter than announced), "
             if counts["short"] else "")
    lines.append(f"{len(result.videos)} videos: {counts['done']} done, {counts['skipped']} "
                 f"skipped (already complete), {short}{counts['failed']} failed; "
                 f"{result.frames_segmented} frames in {result.seconds:.1f} s "
                 f"({result.frames_per_second:.1f} frames/s)")
    return "\n".join(lines) + "\n"
