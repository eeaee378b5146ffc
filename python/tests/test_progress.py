"""The batch's progress: a line per finished video always, and on a terminal
a bar below the lines (tqdm's where it is installed, our own without it) that
is gone when the batch ends, so the summary table starts on a clean line."""

import io
import sys

import pytest

from corvane import batch

try:
    import tqdm  # noqa: F401
    HAVE_TQDM = True
except ImportError:
    HAVE_TQDM = False


class Terminal(io.StringIO):
    def isatty(self):
        return True


VIDEOS = [batch.VideoResult("hall", "/in/hall.avi", "/out/hall", "done", 120, 2.0),
          batch.VideoResult("road", "/in/road.avi", "/out/road", "failed", 0, 0.5,
                            "cannot open /in/road.avi")]


def run(stream):
    shown = batch._Progress(stream, len(VIDEOS), True)
    shown.draw()
    for video in VIDEOS:
        shown.finished(video)
    shown.close()
    return stream.getvalue()


def last_screen_line(text):
    return text.split("\n")[-1].split("\r")[-1]


@pytest.mark.skipif(not HAVE_TQDM, reason="tqdm (Debian's python3-tqdm) not found")
def test_a_terminal_gets_tqdms_bar_under_the_lines_of_finished_videos():
    text = run(Terminal())
    assert "done     hall: 120 frames, 2.0 s\n" in text
    assert "failed   road: cannot open /in/road.avi\n" in text
    assert "1/2 videos" in text and "2/2 videos" in text and "frames/s" in text
    # Cleared at the end: what follows starts at the left margin of an empty line.
    assert last_screen_line(text).strip(" \x1b[A") == ""


def test_without_tqdm_our_own_bar_and_the_same_lines(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)  # import tqdm raises ImportError
    text = run(Terminal())
    assert "done     hall: 120 frames, 2.0 s\n" in text
    assert "failed   road: cannot open /in/road.avi\n" in text
    assert "2/2 videos" in text
    assert text.endswith("\r\x1b[K")


def test_a_file_or_pipe_gets_the_lines_alone():
    text = run(io.StringIO())
    assert text == ("done     hall: 120 frames, 2.0 s\n"
                    "failed   road: cannot open /in/road.avi\n")


def test_quiet_prints_nothing():
    stream = Terminal()
    shown = batch._Progress(stream, len(VIDEOS), False)
    shown.draw()
    for video in VIDEOS:
        shown.finished(video)
    shown.close()
    assert stream.getvalue() == ""
