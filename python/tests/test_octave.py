"""A model moves between Python and MATLAB: the dict of sub.model, given to
Octave's CorvaneDetector(model), segments the next frames exactly as
BackgroundSubtractor.from_model does, and the model Octave ends with reads
back into Python as the one Python ends with; and Octave's corvaneReadFrames
reads the sample clip and image folders as OpenCV does. ($CORVANE_OCTAVE runs
octave-cli; $CORVANE_OCTAVE_PATH holds the toolbox and its MEX files.)"""

import os
import subprocess

import numpy as np
import pytest

import corvane
from test_subtractor import scene

FIELDS = ["Mu", "Sigma2", "imMask", "Pi", "NeuroWin", "Var", "Cov", "MaximumVariance",
          "NumMapRows", "NumMapColumns", "NumImageRows", "NumImageColumns",
          "MinimumVariance", "StepSize", "CurrentFrame"]

OCTAVE = r"""
addpath(getenv('CORVANE_OCTAVE_PATH'));
folder = '%(folder)s';
names = strsplit('%(names)s', ',');
model = struct();
for i = 1:numel(names)
  shape = dlmread(fullfile(folder, [names{i} '.shape']));
  fid = fopen(fullfile(folder, [names{i} '.in'])); values = fread(fid, Inf, 'double'); fclose(fid);
  model.(names{i}) = reshape(values, shape(:)');
end
det = CorvaneDetector(model, 'Threads', 1);
for t = 1:%(frames)d
  fid = fopen(fullfile(folder, sprintf('frame%%d.rgb', t)));
  frame = reshape(fread(fid, Inf, 'uint8=>uint8'), [%(H)d %(W)d 3]); fclose(fid);
  mask = det.step(frame);
  fid = fopen(fullfile(folder, sprintf('mask%%d.out', t)), 'w'); fwrite(fid, uint8(mask) * 255, 'uint8'); fclose(fid);
end
out = det.Model;
for i = 1:numel(names)
  fid = fopen(fullfile(folder, [names{i} '.out']), 'w'); fwrite(fid, out.(names{i}), 'double'); fclose(fid);
  dlmwrite(fullfile(folder, [names{i} '.outshape']), size(out.(names{i})));
end
"""


def test_a_model_continues_identically_in_octave(tmp_path):
    frames = scene(26)
    H, W = frames[0].shape[:2]
    sub = corvane.BackgroundSubtractor(threads=1)
    for frame in frames[:16]:
        sub.apply(frame)
    model = {name: value for name, value in sub.model.items() if name in FIELDS}
    for name, value in model.items():
        value.ravel(order="F").astype("<f8").tofile(tmp_path / f"{name}.in")
        (tmp_path / f"{name}.shape").write_text(",".join(map(str, value.shape)) + "\n")
    rest = frames[16:]
    for t, frame in enumerate(rest, 1):
        frame[:, :, ::-1].ravel(order="F").tofile(tmp_path / f"frame{t}.rgb")   # RGB, MATLAB order
    script = OCTAVE % {"folder": tmp_path, "names": ",".join(FIELDS), "frames": len(rest),
                       "H": H, "W": W}
    subprocess.run([os.environ["CORVANE_OCTAVE"], "--no-gui", "--quiet", "--norc",
                    "--eval", script], check=True, timeout=600)

    python = corvane.BackgroundSubtractor.from_model(model, threads=1)
    for t, frame in enumerate(rest, 1):
        octave = np.fromfile(tmp_path / f"mask{t}.out", np.uint8).reshape((H, W), order="F")
        assert np.array_equal(python.apply(frame), octave), f"frame {t}"
    back = {}
    for name in FIELDS:
        shape = tuple(int(v) for v in (tmp_path / f"{name}.outshape").read_text().split(","))
        back[name] = np.fromfile(tmp_path / f"{name}.out", "<f8").reshape(shape, order="F")
    ours = python.model
    for name in FIELDS:
        assert back[name].shape == ours[name].shape, name
        assert back[name].tobytes(order="F") == ours[name].tobytes(order="F"), name
    # And back again: Octave's model continues in Python as Python's own.
    again = corvane.BackgroundSubtractor.from_model(back)
    assert np.array_equal(again.apply(frames[0]), python.apply(frames[0]))


READ_FRAMES = r"""
addpath(getenv('CORVANE_OCTAVE_PATH'));
folder = '%(folder)s';
sources = {'%(sample)s', fullfile(folder, 'pngs'), fullfile(folder, 'pngs', 'in%%04d.png')};
limits = [30, Inf, 4];
for i = 1:numel(sources)
  video = corvaneReadFrames(sources{i}, limits(i));
  dlmwrite(fullfile(folder, sprintf('read%%d.shape', i)), size(video));
  fid = fopen(fullfile(folder, sprintf('read%%d.rgb', i)), 'w'); fwrite(fid, video, 'uint8'); fclose(fid);
end
bad = {fullfile(folder, 'none.avi'), fullfile(folder, 'empty'), fullfile(folder, 'x%%03d.png')};
fid = fopen(fullfile(folder, 'errors'), 'w');
for i = 1:numel(bad)
  try
    corvaneReadFrames(bad{i});
    fprintf(fid, 'none\n');
  catch err
    fprintf(fid, '%%s\n', err.identifier);
  end
end
fclose(fid);
"""


def octave_frames(folder, i):
    shape = [int(v) for v in (folder / f"read{i}.shape").read_text().split(",")]
    frames = np.fromfile(folder / f"read{i}.rgb", np.uint8).reshape(shape, order="F")
    return frames[:, :, ::-1, :]   # RGB to OpenCV's BGR


def test_octave_reads_the_sample_video_and_image_folders_as_opencv_does(tmp_path):
    import cv2

    sample = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "data", "sample",
                          "highway-160x120.avi")
    (tmp_path / "pngs").mkdir()
    (tmp_path / "empty").mkdir()
    pictures = scene(6)
    for t, picture in enumerate(pictures, 7):
        cv2.imwrite(str(tmp_path / "pngs" / f"in{t:04d}.png"), picture)
    script = READ_FRAMES % {"folder": tmp_path, "sample": sample}
    subprocess.run([os.environ["CORVANE_OCTAVE"], "--no-gui", "--quiet", "--norc",
                    "--eval", script], check=True, timeout=600)
    # The AVI's frames, in order, upright and in colour order: OpenCV's
    # video decoder rounds a few values differently from the JPEG decoder.
    video = octave_frames(tmp_path, 1)
    assert video.shape == (120, 160, 3, 30)
    capture = cv2.VideoCapture(sample)
    previous = None
    for t in range(30):
        ok, frame = capture.read()
        assert ok
        ours = video[:, :, :, t].astype(int)
        difference = np.abs(ours - frame)
        assert difference.max() <= 16 and difference.mean() < 1.5, f"frame {t + 1}"
        if previous is not None:   # nearer its own frame than the one before
            assert difference.mean() < 0.75 * np.abs(ours - previous).mean(), f"frame {t + 1}"
        previous = frame
    # Images: exactly, in name order; the pattern from its first number.
    folder = octave_frames(tmp_path, 2)
    assert folder.shape[3] == 6
    assert all(np.array_equal(folder[:, :, :, t], pictures[t]) for t in range(6))
    assert np.array_equal(octave_frames(tmp_path, 3), folder[:, :, :, :4])
    assert (tmp_path / "errors").read_text().split() == ["Corvane:badSource"] * 3


RESUME = r"""
addpath(getenv('CORVANE_OCTAVE_PATH'));
folder = '%(folder)s';
s = load(fullfile(folder, 'model.mat'));
det = CorvaneDetector(s.model, s.model.Parameters, 'Threads', 1);
for t = 1:%(frames)d
  fid = fopen(fullfile(folder, sprintf('frame%%d.rgb', t)));
  frame = reshape(fread(fid, Inf, 'uint8=>uint8'), [%(H)d %(W)d 3]); fclose(fid);
  mask = det.step(frame);
  fid = fopen(fullfile(folder, sprintf('mask%%d.out', t)), 'w'); fwrite(fid, uint8(mask) * 255, 'uint8'); fclose(fid);
end
%% The learn mask (a box, true where the frame is not learnt) as Python's.
det = CorvaneDetector(s.model, s.model.Parameters, 'Threads', 1);
keep = false(%(H)d, %(W)d); keep(40:80, 60:120) = true;
for t = 1:%(frames)d
  fid = fopen(fullfile(folder, sprintf('frame%%d.rgb', t)));
  frame = reshape(fread(fid, Inf, 'uint8=>uint8'), [%(H)d %(W)d 3]); fclose(fid);
  mask = det.step(frame, 'LearnMask', keep);
  fid = fopen(fullfile(folder, sprintf('kept%%d.out', t)), 'w'); fwrite(fid, uint8(mask) * 255, 'uint8'); fclose(fid);
end
try
  det.step(frame, 'LearnMask', true(2, 2));
  error('a learn mask of another size was taken');
catch err
  assert(strcmp(err.identifier, 'Corvane:learnMask'), err.identifier);
end
%% The struct call takes the loaded struct as it is.
next = Corvane(s.model, double(frame), corvaneNeighborhood(s.model.Parameters));
assert(isequal(size(next.Mu), size(s.model.Mu)));
"""


@pytest.mark.skipif("CORVANE_COMMAND" not in os.environ, reason="the corvane command is not built")
def test_a_model_saved_by_the_command_goes_on_in_octave_and_python(tmp_path):
    import cv2

    sample = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "data", "sample",
                          "highway-160x120.avi")
    cut, total = 12, 24
    options = ["--quiet", "--threshold", "0.4", "--init-frames", "5"]
    command = os.environ["CORVANE_COMMAND"]
    subprocess.run([command, "segment", sample, str(tmp_path / "whole"), "--max-frames",
                    str(total)] + options, check=True)
    subprocess.run([command, "segment", sample, str(tmp_path / "first"), "--max-frames",
                    str(cut), "--save-model", str(tmp_path / "model.mat")] + options, check=True)
    capture = cv2.VideoCapture(sample)
    frames = [capture.read()[1] for _ in range(total)]
    rest = frames[cut:]
    H, W = rest[0].shape[:2]
    for t, frame in enumerate(rest, 1):
        frame[:, :, ::-1].ravel(order="F").tofile(tmp_path / f"frame{t}.rgb")
    script = RESUME % {"folder": tmp_path, "frames": len(rest), "H": H, "W": W}
    subprocess.run([os.environ["CORVANE_OCTAVE"], "--no-gui", "--quiet", "--norc",
                    "--eval", script], check=True, timeout=600)
    python = corvane.BackgroundSubtractor.load(tmp_path / "model.mat", threads=1)
    assert python.parameters["mask_threshold"] == 0.4
    for t, frame in enumerate(rest, 1):
        expected = cv2.imread(str(tmp_path / "whole" / f"{cut + t:06d}.png"), cv2.IMREAD_UNCHANGED)
        octave = np.fromfile(tmp_path / f"mask{t}.out", np.uint8).reshape((H, W), order="F")
        assert np.array_equal(octave, expected), f"Octave, frame {cut + t}"
        assert np.array_equal(python.apply(frame), expected), f"Python, frame {cut + t}"
    kept = corvane.BackgroundSubtractor.load(tmp_path / "model.mat", threads=1)
    box = np.zeros((H, W), bool)
    box[39:80, 59:120] = True
    for t, frame in enumerate(rest, 1):
        octave = np.fromfile(tmp_path / f"kept{t}.out", np.uint8).reshape((H, W), order="F")
        assert np.array_equal(kept.apply(frame, learnMask=box), octave), f"learn mask, frame {t}"
