"""Many videos on a Dask LocalCluster of 2 processes: the same files as
`corvane segment`, resume, a broken video alone failing, a killed worker."""

import filecmp
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

distributed = pytest.importorskip("distributed")

from corvane import batch  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.environ.get("CORVANE_SAMPLE_CLIP",
                        os.path.join(HERE, "..", "..", "data", "sample", "highway-160x120.avi"))
FRAMES = 30


def command():
    try:
        return batch.find_command()
    except batch.BatchError as error:
        pytest.skip(str(error))


@pytest.fixture(scope="module")
def client():
    cluster = batch.local_cluster(2)
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


@pytest.fixture
def clips(tmp_path):
    """Three copies of the sample clip under their own names."""
    folder = tmp_path / "in"
    folder.mkdir()
    paths = []
    for name in ("east", "west", "north"):
        shutil.copyfile(SAMPLE, folder / f"{name}.avi")
        paths.append(str(folder / f"{name}.avi"))
    return paths


def reference(tmp_path, clip, frames, *options):
    """The folder `corvane segment` writes for `clip` on its own."""
    out = tmp_path / "reference" / os.path.basename(clip)
    if not out.exists():
        subprocess.run([command(), "segment", clip, str(out), "--quiet", "--max-frames",
                        str(frames), *options], check=True, stdout=subprocess.DEVNULL)
    return out


def assert_same_files(got, expected):
    names = sorted(os.listdir(expected))
    assert sorted(os.listdir(got)) == names
    _, mismatch, errors = filecmp.cmpfiles(got, expected, names, shallow=False)
    assert mismatch == [] and errors == []


def no_working_folders(root):
    return [n for n in os.listdir(root) if ".incomplete-" in n or ".old-" in n]


def test_outputs_are_the_commands_and_a_rerun_skips_them(tmp_path, clips, client):
    root = tmp_path / "out"
    result = batch.segment_many(clips, root, client, max_frames=FRAMES, mask_threshold=0.3,
                                progress=False)
    assert [v.status for v in result.videos] == ["done"] * 3
    assert result.frames_segmented == 3 * FRAMES
    for clip, video in zip(clips, result.videos):
        assert video.frames == FRAMES
        assert_same_files(video.output, reference(tmp_path, clip, FRAMES, "--threshold", "0.3"))
    assert no_working_folders(root) == []

    stamp = os.stat(root / "east" / "000007.png").st_mtime_ns
    again = batch.segment_many(clips, root, client, max_frames=FRAMES, mask_threshold=0.3,
                               progress=False)
    assert [v.status for v in again.videos] == ["skipped"] * 3
    assert os.stat(root / "east" / "000007.png").st_mtime_ns == stamp

    # Other parameters, or --force, segment again.
    changed = batch.segment_many(clips[:1], root, client, max_frames=FRAMES, progress=False)
    assert changed.videos[0].status == "done"
    assert_same_files(root / "east", reference(tmp_path / "plain", clips[0], FRAMES))
    forced = batch.segment_many(clips[:1], root, client, max_frames=FRAMES, force=True,
                                progress=False)
    assert forced.videos[0].status == "done"


def test_a_broken_video_fails_alone_and_sets_the_exit_status(tmp_path, clips):
    broken = tmp_path / "in" / "broken.avi"
    broken.write_bytes(b"RIFF\0\0\0\0AVI not really a video")
    missing = tmp_path / "in" / "missing.avi"
    # Cut short: it keeps its masks but counts in the exit status.
    cut = tmp_path / "in" / "cut.avi"
    data = open(SAMPLE, "rb").read()
    cut.write_bytes(data[:len(data) // 4])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, "-m", "corvane", "batch", clips[0], str(broken),
                          str(missing), clips[1], str(cut), str(tmp_path / "out"), "--workers",
                          "2", "--max-frames", "300"],
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert run.returncode == 3, run.stderr
    lines = run.stderr.splitlines()
    assert any(line.startswith('failed   broken: cannot open the video "') for line in lines)
    assert any(line.startswith("failed   missing: ") for line in lines)
    assert any(line.startswith("short    cut: ") for line in lines)
    assert ("5 videos: 2 done, 0 skipped (already complete), 1 short (masks kept, input "
            "shorter than announced), 2 failed") in run.stdout  # the table: standard output
    assert "videos:" not in run.stderr
    assert sorted(os.listdir(tmp_path / "out")) == ["cut", "east", "west"]
    assert_same_files(tmp_path / "out" / "west", reference(tmp_path, clips[1], 300))


def worker_of(pid):
    """The parent of process `pid` (the worker whose task started it), or None."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return int(stat.read().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return None


class WorkerKiller(threading.Thread):
    """Watches `root` for a command's working folder (NAME.incomplete-PID)
    holding `masks` masks, and then kills the worker process running that
    command outright (SIGKILL), once. The command is the worker's child, so
    the worker is found from the outside, with nothing in the product."""

    def __init__(self, root, masks=5):
        super().__init__(daemon=True)
        self.root, self.masks = str(root), masks
        self.killed = None
        self.stop = threading.Event()

    def run(self):
        pattern = re.compile(r"\.incomplete-([0-9]+)$")
        while not self.stop.is_set():
            try:
                names = os.listdir(self.root)
            except OSError:
                names = []
            for name in names:
                found = pattern.search(name)
                if not found:
                    continue
                try:
                    written = sum(n.endswith(".png")
                                  for n in os.listdir(os.path.join(self.root, name)))
                except OSError:
                    continue
                worker = worker_of(int(found.group(1)))
                if written >= self.masks and worker not in (None, 0, 1, os.getpid()):
                    os.kill(worker, signal.SIGKILL)
                    self.killed = worker
                    return
            time.sleep(0.01)


def test_a_worker_killed_mid_video_loses_nothing(tmp_path, clips):
    root = tmp_path / "out"
    frames = 80
    killer = WorkerKiller(root)
    killer.start()
    try:
        result = batch.segment_many(clips, root, workers=2, threads=1, max_frames=frames,
                                    progress=False)
    finally:
        killer.stop.set()
        killer.join()
    assert killer.killed is not None, "no worker was killed"
    assert [v.status for v in result.videos] == ["done"] * 3
    for clip in clips:
        name = os.path.splitext(os.path.basename(clip))[0]
        assert_same_files(root / name, reference(tmp_path, clip, frames))
    # The killed worker's child removes its unfinished folder as it stops
    # (it is sent SIGTERM once per exiting thread of its worker), and the
    # batch returns only once it has.
    assert no_working_folders(root) == []


def test_a_rerun_redoes_a_shorter_run_and_keeps_a_short_videos_masks(tmp_path, client):
    # A quarter of the clip: its container still announces every frame.
    cut = tmp_path / "in" / "cut.avi"
    cut.parent.mkdir()
    data = open(SAMPLE, "rb").read()
    cut.write_bytes(data[:len(data) // 4])
    root = tmp_path / "out"
    first = batch.segment_many([str(cut)], root, client, max_frames=10, progress=False)
    assert [(v.status, v.frames) for v in first.videos] == [("done", 10)]
    # The whole video is another run than its first 10 frames.
    whole = batch.segment_many([str(cut)], root, client, progress=False)
    video = whole.videos[0]
    assert video.status == "short" and video.frames > 10, video
    assert "could be decoded" in video.error
    assert whole.short == [video] and whole.failed == []
    assert len([n for n in os.listdir(root / "cut") if n.endswith(".png")]) == video.frames
    again = batch.segment_many([str(cut)], root, client, allow_short=True, progress=False)
    assert [(v.status, v.frames) for v in again.videos] == [("skipped", video.frames)]
    assert "1 short (masks kept" in batch.summary(whole)


def test_inputs_names_and_parameters_are_checked_before_anything_runs(tmp_path, clips):
    other = tmp_path / "other"
    other.mkdir()
    shutil.copyfile(clips[0], other / "east.avi")
    with pytest.raises(batch.BatchError, match="would both write"):
        batch.plan([clips[0], str(other / "east.avi")], tmp_path / "out")
    with pytest.raises(batch.BatchError, match="would both write"):
        batch.plan([clips[0], clips[0]], tmp_path / "out")
    named = batch.plan([clips[0], ("east2", str(other / "east.avi"))], tmp_path / "out")
    assert [n for n, _, _ in named] == ["east", "east2"]
    assert batch.plan([str(tmp_path / "seq" / "in%06d.jpg")], "o")[0][0] == "seq"
    # A real file or folder whose name holds '%' is named after itself.
    shutil.copyfile(clips[0], tmp_path / "50%.avi")
    (tmp_path / "dir%done").mkdir()
    assert [n for n, _, _ in batch.plan([str(tmp_path / "50%.avi"), str(tmp_path / "dir%done")],
                                        "o")] == ["50%", "dir%done"]
    for bad in ("..", "a.incomplete-12"):
        with pytest.raises(batch.BatchError):
            batch.plan({bad: clips[0]}, tmp_path / "out")
    with pytest.raises(batch.BatchError, match="not one path"):
        batch.plan(clips[0], tmp_path / "out")

    for parameters, message in (({"mask_treshold": 0.3}, "unknown parameter 'mask_treshold'"),
                                ({"mask_threshold": 2.0}, "--threshold needs a number from 0"),
                                ({"median_size": "5"}, "median_size needs a number"),
                                ({"prior_floor": 0.5, "prior_ceiling": 0.4}, "--prior-ceiling")):
        with pytest.raises(batch.BatchError, match=message):
            batch.segment_many(clips, tmp_path / "out", **parameters)
    assert not (tmp_path / "out").exists()


def test_a_script_without_the_main_guard_fails_once_and_fast(tmp_path, clips):
    script = tmp_path / "unguarded.py"
    script.write_text("import corvane\n"
                      f"corvane.segment_many([{clips[0]!r}], {str(tmp_path / 'out')!r}, "
                      "max_frames=5)\n"
                      "print('after the batch')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    start = time.monotonic()
    run = subprocess.run([sys.executable, str(script)], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, timeout=120)
    assert time.monotonic() - start < 30
    assert run.returncode == 1
    assert run.stderr.count("MainGuardError: ") == 1, run.stderr
    assert 'if __name__ == "__main__":' in run.stderr
    assert f"{script}, line 2" in run.stderr
    assert run.stdout == ""
    assert not (tmp_path / "out").exists()


def test_the_main_guard_is_recognised_in_its_usual_spellings(tmp_path):
    script = tmp_path / "s.py"
    script.write_text("import corvane\n"
                      "x = 1\n"
                      "if __name__ == '__main__':\n"
                      "    corvane.segment_many(\n"
                      "        ['a'], 'b')\n"
                      "if '__main__' == __name__:\n"
                      "    y = 2\n"
                      "if __name__ != '__main__':\n"
                      "    z = 3\n")
    assert batch._guarded(str(script), 2) is False
    assert batch._guarded(str(script), 4) is True
    assert batch._guarded(str(script), 5) is True
    assert batch._guarded(str(script), 7) is True
    assert batch._guarded(str(script), 9) is False
    assert batch._guarded(str(tmp_path / "missing.py"), 1) is None


def test_set_up_errors_refuse_to_start_with_status_125(tmp_path, clips):
    a_file = tmp_path / "a-file"
    a_file.write_text("not a folder")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    cases = [([str(a_file)], "exists and is not a folder"),
             ([str(a_file / "out")], "lies under a file"),
             ([str(tmp_path / "out"), "--threads", "5000"], "threads must be a whole number"),
             ([str(tmp_path / "out"), "--threads", "257"], "threads must be a whole number"),
             ([str(tmp_path / "out"), "--max-frames", str(2**40)], "max_frames must be")]
    if os.geteuid() != 0:  # the superuser writes into read-only folders
        read_only = tmp_path / "read-only"
        read_only.mkdir(mode=0o555)
        cases.append(([str(read_only)], "cannot write into the output root"))
    for arguments, message in cases:
        run = subprocess.run([sys.executable, "-m", "corvane", "batch", clips[0], *arguments],
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        assert run.returncode == 125, (arguments, run.stderr)
        assert message in run.stderr and "Traceback" not in run.stderr, run.stderr
    assert not (tmp_path / "out").exists()
    assert a_file.read_text() == "not a folder"
