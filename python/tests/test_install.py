"""The one-command install (scripts/install-python.sh) into a fresh virtual
environment that sees the system's packages (NumPy): it builds the module
(and, OpenCV being there, the corvane command that batches run), the package
lands in the environment's site-packages and works from any folder without
PYTHONPATH."""

import os
import subprocess
import sys

SNIPPET = """
import numpy as np, corvane
sub = corvane.BackgroundSubtractor(threads=1)
frame = np.full((24, 32, 3), 100, np.uint8)
for _ in range(10):
    mask = sub.apply(frame)
frame[5:15, 5:15] = 250
print(corvane.__file__)
print(int(sub.apply(frame).sum() // 255))
from corvane import batch                     # the command the batches run came along
print(batch.find_command())
"""


def test_install_into_a_fresh_virtual_environment(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(venv)], check=True)
    python = venv / "bin" / "python"
    # Neither the build tree's package nor the sanitizer runtimes of a
    # sanitized test build: the script builds and installs a plain module.
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS", "CORVANE_COMMAND")}
    script = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "scripts", "install-python.sh")
    build = os.path.join(os.environ["CORVANE_BUILD_DIR"], "python-install")
    subprocess.run([script, str(python)], check=True,
                   env=dict(environment, CORVANE_PYTHON_BUILD_DIR=build))
    result = subprocess.run([str(python), "-c", SNIPPET], check=True, cwd=tmp_path,
                            env=environment, capture_output=True, text=True)
    location, foreground, command = result.stdout.split()
    assert location.startswith(str(venv)), location
    assert command.startswith(str(venv)) and os.access(command, os.X_OK), command
    assert int(foreground) > 50
