"""A model moves between Python and MATLAB: the dict of sub.model, given to
Octave's CorvaneDetector(model), segments the next frames exactly as
BackgroundSubtractor.from_model does, and the model Octave ends with reads
back into Python as the one Python ends with. ($CORVANE_OCTAVE runs
octave-cli; $CORVANE_OCTAVE_PATH holds the toolbox and its MEX files.)"""

import os
import subprocess

import numpy as np

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
