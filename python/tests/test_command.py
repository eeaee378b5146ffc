"""apply() over the frames of a video gives exactly the masks `corvane segment`
writes for it, with the same parameters (the command: $CORVANE_COMMAND)."""

import os
import subprocess
import sys

import cv2
import numpy as np
import pytest

import corvane

SAMPLE = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "data", "sample", "highway-160x120.avi")


def command_masks(tmp_path, options, frames):
    out = tmp_path / "masks"
    subprocess.run([os.environ["CORVANE_COMMAND"], "segment", SAMPLE, str(out), "--quiet",
                    "--max-frames", str(frames)] + options, check=True)
    return [cv2.imread(str(out / f"{t:06d}.png"), cv2.IMREAD_UNCHANGED)
            for t in range(1, frames + 1)]


def module_masks(keywords, frames):
    capture = cv2.VideoCapture(SAMPLE)
    sub = corvane.BackgroundSubtractor(**keywords)
    masks = []
    for _ in range(frames):
        ok, frame = capture.read()
        assert ok
        masks.append(sub.apply(frame).copy())
    return masks


@pytest.mark.parametrize("options, keywords, frames", [
    ([], {}, 300),
    (["--map", "2x3", "--threshold", "0.4", "--median", "3", "--init-frames", "4",
      "--step-size", "0.05", "--calibration-frames", "10", "--flicker-step", "0"],
     {"map_rows": 2, "map_columns": 3, "mask_threshold": 0.4, "median_size": 3,
      "initial_frames": 4, "step_size": 0.05, "calibration_frames": 10, "flicker_step": 0,
      "threads": 1},
     60),
])
def test_masks_equal_the_commands(tmp_path, options, keywords, frames):
    expected = command_masks(tmp_path, options, frames)
    got = module_masks(keywords, frames)
    assert sum(int(m.any()) for m in got) > frames // 2        # cars are found
    for t, (mine, theirs) in enumerate(zip(got, expected), 1):
        assert theirs is not None and theirs.shape == mine.shape
        assert np.array_equal(mine, theirs), f"frame {t} differs"


def run_script(*arguments):
    script = os.path.join(os.environ["CORVANE_SOURCE_DIR"], *arguments[0].split("/"))
    return subprocess.run([sys.executable, script] + list(arguments[1:]), check=True,
                          capture_output=True, text=True).stdout


def test_the_example_writes_both_masks_and_the_picture(tmp_path):
    run_script("examples/segment_video.py", SAMPLE, str(tmp_path), "--max-frames", "12")
    for name in ("corvane", "mog2"):
        masks = sorted(os.listdir(tmp_path / name))
        assert masks[0] == "000001.png" and len(masks) == 12
    picture = cv2.imread(str(tmp_path / "side-by-side.png"))
    assert picture.shape == (120, 3 * 160, 3)
    assert np.array_equal(cv2.imread(str(tmp_path / "corvane" / "000012.png"), 0),
                          module_masks({}, 12)[-1])


def test_the_benchmark_runs_and_finds_the_same_masks(tmp_path):
    table = run_script("python/bench/apply_bench.py", "--size", "64x48", "--frames", "3",
                       "--threads", "1,2")
    rows = [line for line in table.splitlines() if line.startswith("| 64x48")]
    assert len(rows) == 2


def test_python_m_corvane_runs_the_command_and_both_tell_one_version(tmp_path):
    command = os.environ["CORVANE_COMMAND"]
    version = subprocess.run([command, "--version"], check=True, capture_output=True,
                             text=True).stdout
    assert version == f"corvane {corvane.__version__}\n"
    # Anything but batch goes to the command, its output and exit status unchanged.
    listing = subprocess.run([sys.executable, "-m", "corvane", "parameters", "--threshold", "0.4"],
                             capture_output=True, text=True)
    assert listing.returncode == 0, listing.stderr
    assert "mask_threshold --threshold 0.4" in listing.stdout
    bad = subprocess.run([sys.executable, "-m", "corvane", "segment", str(tmp_path / "none.avi"),
                          str(tmp_path / "out")], capture_output=True, text=True)
    assert bad.returncode != 0 and bad.stderr.startswith("corvane: ")
    assert not (tmp_path / "out").exists()


def test_the_example_runs_as_written_and_tells_its_progress(tmp_path):
    # Run by its path, as the guides write it: executable, with its own
    # interpreter line.
    example = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "examples", "segment_video.py")
    run = subprocess.run([example, SAMPLE, str(tmp_path), "--max-frames", "30"],
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr
    assert "frame 30/30" in run.stderr and "frames/s" in run.stderr
    assert "30 frames" in run.stdout
    ours = [cv2.imread(str(tmp_path / "corvane" / f"{t:06d}.png"), cv2.IMREAD_UNCHANGED)
            for t in range(1, 31)]
    assert all(mask is not None for mask in ours)
    assert (tmp_path / "side-by-side.png").exists()
    # The masks are the module's own.
    assert all(np.array_equal(a, b) for a, b in zip(ours, module_masks({}, 30)))


@pytest.mark.parametrize("kind", ["16-bit colour", "grey", "16-bit BGRA"])
def test_camera_frames_give_the_commands_masks_for_the_same_images(tmp_path, kind):
    # The sample clip's frames made into another camera's images, written as
    # PNGs: the command reads the files, apply() the arrays they hold.
    capture = cv2.VideoCapture(SAMPLE)
    rng = np.random.default_rng(3)
    frames = []
    for _ in range(40):
        ok, bgr = capture.read()
        assert ok
        if kind == "grey":
            frames.append(cv2.cvtColor(bgr, cv2.COLOR_BGR2GRAY))
            continue
        # 16 bits, off the x * 257 grid: both must take round(x / 257).
        wide = np.clip(bgr.astype(int) * 257 + rng.integers(-128, 129, bgr.shape), 0, 65535)
        wide = wide.astype(np.uint16)
        if kind == "16-bit BGRA":
            wide = np.concatenate([wide, rng.integers(0, 65536, bgr.shape[:2] + (1,),
                                                      dtype=np.uint16)], axis=2)
        frames.append(wide)
    folder = tmp_path / "in"
    folder.mkdir()
    for t, frame in enumerate(frames, 1):
        assert cv2.imwrite(str(folder / f"{t:06d}.png"), frame)
    out = tmp_path / "masks"
    subprocess.run([os.environ["CORVANE_COMMAND"], "segment", str(folder / "%06d.png"), str(out),
                    "--quiet", "--threads", "1"], check=True)
    sub = corvane.BackgroundSubtractor(threads=1)
    found = 0
    for t, frame in enumerate(frames, 1):
        assert cv2.imread(str(folder / f"{t:06d}.png"), cv2.IMREAD_UNCHANGED).dtype == frame.dtype
        mine = sub.apply(frame)
        theirs = cv2.imread(str(out / f"{t:06d}.png"), cv2.IMREAD_UNCHANGED)
        assert np.array_equal(mine, theirs), f"frame {t} differs"
        found += int(mine.any())
    assert found > 10
