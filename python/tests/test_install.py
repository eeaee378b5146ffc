"""The one-command install (scripts/install-python.sh) into a fresh virtual
environment that sees the system's packages (NumPy): it builds the module
(and, OpenCV being there, the corvane command that batches run), the package
lands in the environment's site-packages and works from any folder without
PYTHONPATH."""

import os
import shutil
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
    # The command is on the environment's PATH, in its bin/ beside python.
    on_path = venv / "bin" / "corvane"
    version = subprocess.run([str(on_path), "--version"], check=True, env=environment,
                             capture_output=True, text=True).stdout
    assert version.startswith("corvane "), version
    assert int(foreground) > 50


def other_interpreter():
    """A python3 on PATH that is not Debian's /usr/bin/python3, or None."""
    debian = os.path.realpath("/usr/bin/python3")
    for folder in os.environ.get("PATH", "").split(os.pathsep):
        candidate = shutil.which("python3", path=folder)
        if candidate and os.path.realpath(candidate) != debian:
            found = subprocess.run([candidate, "-c", "import sys, venv; print(sys.executable)"],
                                   capture_output=True, text=True)
            if found.returncode == 0:
                return candidate
    return None


def test_environments_the_module_cannot_serve_are_refused_naming_the_interpreter(tmp_path):
    script = os.path.join(os.environ["CORVANE_SOURCE_DIR"], "scripts", "install-python.sh")
    environment = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    environment["CORVANE_PYTHON_BUILD_DIR"] = str(tmp_path / "build")

    def install(python):
        return subprocess.run([script, str(python)], env=environment, capture_output=True,
                              text=True)

    remedy = "/usr/bin/python3 -m venv --system-site-packages DIR"
    isolated = tmp_path / "isolated"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(isolated)], check=True)
    refused = install(isolated / "bin" / "python")
    assert refused.returncode == 1
    assert "made without --system-site-packages" in refused.stderr and remedy in refused.stderr
    other = other_interpreter()
    if other is not None:
        # A venv made with --system-site-packages, but from another python3.
        venv = tmp_path / "other"
        subprocess.run([other, "-m", "venv", "--system-site-packages", "--without-pip", str(venv)],
                       check=True)
        base = subprocess.run([str(venv / "bin" / "python"), "-c",
                               "import os, sys; print(os.path.realpath(sys._base_executable))"],
                              check=True, capture_output=True, text=True).stdout.strip()
        refused = install(venv / "bin" / "python")
        assert refused.returncode == 1
        assert f"made from {base}, not from Debian's /usr/bin/python3" in refused.stderr
        assert remedy in refused.stderr
    missing = install(tmp_path / "no-such-python")
    assert missing.returncode == 1 and "no-such-python is not a Python interpreter" in missing.stderr
    # Refused before anything was built.
    assert not (tmp_path / "build").exists()
