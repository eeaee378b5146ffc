"""The installs of Python's own tools, offline, with Debian's packages only:
`pip install --no-build-isolation .` from the repository into a virtual
environment, and `python3 -m build --no-isolation` (an sdist, then a wheel
built from it) with the wheel installed into a fresh environment. Each install
works from any folder without PYTHONPATH, has the corvane command on the
environment's PATH, and pip uninstall takes all of it away again."""

import base64
import hashlib
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

import pytest

SOURCE = os.environ.get("CORVANE_SOURCE_DIR", "")
BUILD = os.environ.get("CORVANE_BUILD_DIR", "")

USE = """
import numpy as np, corvane
sub = corvane.BackgroundSubtractor(threads=1)
frame = np.full((24, 32, 3), 100, np.uint8)
for _ in range(10):
    sub.apply(frame)
frame[5:15, 5:15] = 250
print(corvane.__file__)
print(int(sub.apply(frame).sum() // 255))
from corvane import batch
print(batch.find_command())
"""


def clean_environment():
    """Neither the build tree's package nor a sanitized build's runtimes."""
    drop = ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS", "CORVANE_COMMAND",
            "CORVANE_WHEEL_BUILD_DIR", "PIP_INDEX_URL", "PIP_EXTRA_INDEX_URL")
    return {k: v for k, v in os.environ.items() if k not in drop}


def make_venv(path, with_pip):
    command = [sys.executable, "-m", "venv", "--system-site-packages", str(path)]
    if not with_pip:
        command.insert(-1, "--without-pip")
    subprocess.run(command, check=True)
    return path / "bin" / "python"


def pip(python, *args, env):
    return subprocess.run([str(python), "-m", "pip", "--disable-pip-version-check", *args],
                          env=env, capture_output=True, text=True)


def check_installed(venv, python, env, cwd):
    """The module and the command work from the environment alone; returns
    the package's files relative to site-packages."""
    result = subprocess.run([str(python), "-c", USE], check=True, cwd=cwd, env=env,
                            capture_output=True, text=True)
    location, foreground, command = result.stdout.split()
    site = os.path.dirname(os.path.dirname(location))
    assert site.startswith(str(venv)), location
    assert int(foreground) > 50
    assert command == os.path.join(site, "corvane", "bin", "corvane")
    on_path = venv / "bin" / "corvane"
    version = subprocess.run([str(on_path), "--version"], check=True, env=env,
                             capture_output=True, text=True).stdout
    assert version.startswith("corvane "), version
    files = set()
    for folder, subfolders, names in os.walk(os.path.join(site, "corvane")):
        subfolders[:] = [d for d in subfolders if d != "__pycache__"]
        files.update(os.path.relpath(os.path.join(folder, n), site) for n in names)
    assert {"corvane/__init__.py", "corvane/batch.py", "corvane/__main__.py",
            "corvane/_task.py", "corvane/_progress.py", "corvane/bin/corvane"} <= files, files
    assert any(f.startswith("corvane/_corvane.cpython-") and f.endswith(".so") for f in files)
    # The benchmark's helper stays in the build tree.
    assert not any("command_step" in f for f in files), files
    assert not os.path.exists(os.path.join(site, "corvane_command_step.py"))
    return site


def check_uninstall(venv, python, site, env):
    removed = pip(python, "uninstall", "-y", "corvane", env=env)
    assert removed.returncode == 0, removed.stdout + removed.stderr
    assert not os.path.exists(os.path.join(site, "corvane"))
    assert not os.path.lexists(venv / "bin" / "corvane")
    assert not [n for n in os.listdir(site) if n.startswith("corvane")]


def have(module):
    return subprocess.run([sys.executable, "-c", f"import {module}"],
                          capture_output=True).returncode == 0


@pytest.mark.skipif(not have("pip"), reason="pip for /usr/bin/python3 (Debian's python3-pip) "
                    "not found")
def test_pip_install_from_the_repository(tmp_path):
    venv = tmp_path / "venv"
    # The environment sees Debian's pip and NumPy through the system's packages.
    python = make_venv(venv, with_pip=False)
    env = clean_environment()
    build = dict(env, CORVANE_WHEEL_BUILD_DIR=os.path.join(BUILD, "python-pip"))
    installed = pip(python, "install", "--no-build-isolation", "--no-index", SOURCE, env=build)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    site = check_installed(venv, python, env, tmp_path)
    check_uninstall(venv, python, site, env)


def check_record(wheel):
    """Every file of the wheel is in its RECORD with its hash and size."""
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        record_name = next(n for n in names if n.endswith(".dist-info/RECORD"))
        rows = [line.split(",") for line in archive.read(record_name).decode().splitlines()]
        recorded = {row[0]: row[1:] for row in rows}
        assert set(recorded) == set(names)
        for name in names:
            if name == record_name:
                continue
            data = archive.read(name)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            assert recorded[name] == [f"sha256={digest.decode()}", str(len(data))], name
    return names


@pytest.mark.skipif(not have("build"), reason="python3 -m build (Debian's python3-build) "
                    "not found")
def test_wheel_from_build_installs_into_a_fresh_environment(tmp_path):
    env = clean_environment()
    build = dict(env)
    # The sdist is unpacked and built in a temporary folder of a new name
    # each time: ccache, where the test build uses it, finds its objects again
    # by paths relative to the temporary folders' parent.
    if "ccache" in env.get("CMAKE_ARGS", ""):
        build["CCACHE_BASEDIR"] = tempfile.gettempdir()
    dist = tmp_path / "dist"
    made = subprocess.run([sys.executable, "-m", "build", "--no-isolation", "--outdir", str(dist),
                           SOURCE], env=build, capture_output=True, text=True)
    assert made.returncode == 0, made.stdout[-4000:] + made.stderr[-4000:]
    version = subprocess.run([sys.executable, "-c",
                              "import sys; print(f'{sys.version_info[0]}{sys.version_info[1]}')"],
                             check=True, capture_output=True, text=True).stdout.strip()
    produced = sorted(os.listdir(dist))
    assert len(produced) == 2, produced
    sdist, wheel = (dist / n for n in sorted(produced, key=lambda n: n.endswith(".whl")))
    assert sdist.name.startswith("corvane-") and sdist.name.endswith(".tar.gz")
    assert wheel.name.startswith("corvane-") and f"-cp{version}-cp{version}-linux_" in wheel.name

    with tarfile.open(sdist) as archive:
        members = archive.getnames()
    top = members[0].split("/")[0]
    for needed in ("pyproject.toml", "PKG-INFO", "CMakeLists.txt", "core/include/UpdateModel.h",
                   "python/backend/corvane_build.py", "python/src/Module.cpp"):
        assert f"{top}/{needed}" in members, needed
    assert not [m for m in members if "/build/" in m or "__pycache__" in m]

    names = check_record(wheel)
    assert not [n for n in names if "__pycache__" in n or n.endswith(".pyc")]
    assert any(n.endswith(".data/scripts/corvane") for n in names)

    venv = tmp_path / "fresh"
    python = make_venv(venv, with_pip=True)
    installed = pip(python, "install", "--no-index", str(wheel), env=env)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    site = check_installed(venv, python, env, tmp_path)
    check_uninstall(venv, python, site, env)


@pytest.mark.skipif(not have("pip"), reason="pip for /usr/bin/python3 (Debian's python3-pip) "
                    "not found")
def test_pip_install_without_pybind11_fails_naming_it_and_installs_nothing(tmp_path):
    venv = tmp_path / "venv"
    python = make_venv(venv, with_pip=False)
    env = clean_environment()
    build = dict(env, CORVANE_WHEEL_BUILD_DIR=str(tmp_path / "build"),
                 CMAKE_ARGS="-DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON")
    refused = pip(python, "install", "--no-build-isolation", "--no-index", SOURCE, env=build)
    assert refused.returncode != 0
    said = refused.stdout + refused.stderr
    assert f"the module cannot be built for {python}: pybind11 (Debian's pybind11-dev) " \
           "not found" in said, said[-3000:]
    site = subprocess.run([str(python), "-c",
                           "import sysconfig; print(sysconfig.get_path('platlib'))"],
                          check=True, capture_output=True, text=True).stdout.strip()
    assert not [n for n in os.listdir(site) if n.startswith("corvane")]
    assert not os.path.lexists(venv / "bin" / "corvane")
