"""The build backend behind pyproject.toml: `pip install .` and
`python3 -m build` build the module with the project's own CMake build.

It needs nothing from a package index, only CMake, a C++ compiler, pybind11
and the interpreter's headers (Debian's cmake, g++, pybind11-dev,
python3-dev), so it works with pip's --no-build-isolation and build's
--no-isolation. A wheel is built like scripts/install-python.sh builds the
module: the tree configured with CORVANE_PYTHON_ONLY (no tests; the corvane
command too where OpenCV is installed), the target corvane_python, and the
package laid out in <build>/python/corvane is what the wheel carries. The
command is also put among the wheel's scripts, so that an install has
`corvane` on PATH (a virtual environment's bin/, /usr/local/bin).

Settings, from the environment:
  CORVANE_WHEEL_BUILD_DIR     the CMake build folder [<source>/build/wheel];
                              kept, so the next build only recompiles what
                              changed
  CMAKE_ARGS                  more arguments for the configure, such as
                              -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  CMAKE_BUILD_PARALLEL_LEVEL  compile jobs [the machine's CPUs]
"""

import base64
import hashlib
import io
import os
import re
import shlex
import stat
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

try:
    import tomllib
except ImportError:  # Python before 3.11
    tomllib = None

# What an sdist carries: what the module's configure reads (the top-level
# CMakeLists.txt in CORVANE_PYTHON_ONLY mode reads core, setup, cmake,
# python and, with OpenCV, tools), the README and this backend.
SDIST_PATHS = ["pyproject.toml", "CMakeLists.txt", "README.md", "cmake", "core", "setup",
               "tools", "python/CMakeLists.txt", "python/corvane", "python/src",
               "python/backend"]
SKIPPED_NAMES = {"__pycache__", ".git", "build"}


class BuildError(RuntimeError):
    """The build cannot go on; the message says why."""


def _source_dir():
    # Frontends run the hooks in the folder that holds pyproject.toml.
    return os.path.abspath(os.getcwd())


def _project(source):
    with open(os.path.join(source, "pyproject.toml"), "rb") as file:
        if tomllib is None:
            raise BuildError("building corvane needs Python 3.11 or later (tomllib)")
        return tomllib.load(file)["project"]


def _version(source):
    """The project's version, from project(Corvane VERSION x.y.z) in CMakeLists.txt."""
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as file:
        text = file.read()
    found = re.search(r"project\(\s*Corvane\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        raise BuildError("CMakeLists.txt names no project(Corvane VERSION ...)")
    return found.group(1)


def _metadata(source):
    project = _project(source)
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}",
             f"Version: {_version(source)}"]
    if "description" in project:
        lines.append(f"Summary: {project['description']}")
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    for url_name, url in project.get("urls", {}).items():
        lines.append(f"Project-URL: {url_name}, {url}")
    lines += [f"Requires-Dist: {requirement}" for requirement in project.get("dependencies", [])]
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {requirement}; extra == "{extra}"'
                  for requirement in requirements]
    text = "\n".join(lines) + "\n"
    readme = os.path.join(source, project.get("readme", "README.md"))
    if os.path.exists(readme):
        with open(readme, encoding="utf-8") as file:
            text += "Description-Content-Type: text/markdown\n\n" + file.read()
    return project["name"], text


def _dist_name(name):
    return re.sub(r"[-_.]+", "_", name).lower()


def _wheel_tag():
    """cp311-cp311-linux_x86_64 for Debian 12's python3: the extension is
    built for the interpreter that runs this backend."""
    if sys.implementation.name != "cpython":
        raise BuildError(f"corvane builds for CPython only, not {sys.implementation.name}")
    version = f"{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"cp{version}-cp{version}{sys.abiflags}-{platform}"


def _run(command, what, cwd=None):
    print("corvane_build:", " ".join(shlex.quote(str(part)) for part in command), flush=True)
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)
    sys.stdout.write(done.stdout)
    if done.returncode != 0:
        raise BuildError(f"{what} failed (exit status {done.returncode}); its output is above")
    return done.stdout


def _build_module(source):
    """Configures and builds the module; returns the folder of the laid-out package."""
    build = os.environ.get("CORVANE_WHEEL_BUILD_DIR") or os.path.join(source, "build", "wheel")
    build = os.path.abspath(build)
    configure = ["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DBUILD_TESTING=OFF", "-DCORVANE_PYTHON_ONLY=ON",
                 f"-DCORVANE_PYTHON3={sys.executable}"]
    configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
    try:
        output = _run(configure, "configuring the CMake build in " + build)
    except FileNotFoundError:
        raise BuildError("cmake not found: building corvane needs CMake (Debian's cmake)") \
            from None
    missing = re.search(r"Python module not built: ([^\n]*)", output)
    if missing:
        raise BuildError(f"the module cannot be built for {sys.executable}: {missing.group(1)}")
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _run(["cmake", "--build", build, "--target", "corvane_python", "-j", jobs],
         "building the module")
    package = os.path.join(build, "python", "corvane")
    if not os.path.exists(os.path.join(package, "__init__.py")):
        raise BuildError(f"the build left no package in {package}")
    return package


class _Wheel:
    """A wheel being written: every file's hash goes into RECORD."""

    def __init__(self, path):
        self.zip = zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED)
        self.records = []

    def add(self, name, data, executable=False):
        info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
        # The file type too: pip gives the execute bits only to what is marked
        # a regular file.
        info.external_attr = (stat.S_IFREG | (0o755 if executable else 0o644)) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self.zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        self.records.append(f"{name},sha256={digest},{len(data)}")

    def add_file(self, name, path):
        with open(path, "rb") as file:
            self.add(name, file.read(), executable=os.access(path, os.X_OK))

    def close(self, record_name):
        self.records.append(f"{record_name},,")
        info = zipfile.ZipInfo(record_name, date_time=(2020, 1, 1, 0, 0, 0))
        info.external_attr = (stat.S_IFREG | 0o644) << 16
        self.zip.writestr(info, "\n".join(self.records) + "\n")
        self.zip.close()


def _dist_info_files(source, tag):
    name, metadata = _metadata(source)
    wheel = ("Wheel-Version: 1.0\nGenerator: corvane_build\nRoot-Is-Purelib: false\n"
             f"Tag: {tag}\n")
    return name, {"METADATA": metadata, "WHEEL": wheel}


# ---------------------------------------------------------------- PEP 517 hooks

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    source = _source_dir()
    name, files = _dist_info_files(source, _wheel_tag())
    dist_info = f"{_dist_name(name)}-{_version(source)}.dist-info"
    os.makedirs(os.path.join(metadata_directory, dist_info), exist_ok=True)
    for file_name, text in files.items():
        with open(os.path.join(metadata_directory, dist_info, file_name), "w",
                  encoding="utf-8") as file:
            file.write(text)
    return dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    source = _source_dir()
    tag = _wheel_tag()
    name, files = _dist_info_files(source, tag)
    package = _build_module(source)
    base = f"{_dist_name(name)}-{_version(source)}"
    wheel_name = f"{base}-{tag}.whl"
    os.makedirs(wheel_directory, exist_ok=True)
    wheel = _Wheel(os.path.join(wheel_directory, wheel_name))
    try:
        for folder, subfolders, file_names in os.walk(package):
            subfolders[:] = sorted(d for d in subfolders if d != "__pycache__")
            for file_name in sorted(file_names):
                path = os.path.join(folder, file_name)
                relative = os.path.relpath(path, os.path.dirname(package))
                wheel.add_file(relative.replace(os.sep, "/"), path)
        # The command the package carries, on PATH as the interpreter's scripts are.
        command = os.path.join(package, "bin", "corvane")
        if os.path.exists(command):
            wheel.add_file(f"{base}.data/scripts/corvane", command)
        for file_name, text in files.items():
            wheel.add(f"{base}.dist-info/{file_name}", text.encode("utf-8"))
    finally:
        wheel.close(f"{base}.dist-info/RECORD")
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    source = _source_dir()
    name, metadata = _metadata(source)
    base = f"{_dist_name(name)}-{_version(source)}"
    sdist_name = f"{base}.tar.gz"
    os.makedirs(sdist_directory, exist_ok=True)

    def keep(info):
        parts = info.name.split("/")
        if any(part in SKIPPED_NAMES or part.endswith(".pyc") for part in parts[1:]):
            return None
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        info.mtime = 1577836800
        return info

    with tarfile.open(os.path.join(sdist_directory, sdist_name), "w:gz",
                      format=tarfile.PAX_FORMAT) as archive:
        for path in SDIST_PATHS:
            full = os.path.join(source, path)
            if not os.path.exists(full):
                raise BuildError(f"the source tree has no {path}")
            archive.add(full, arcname=f"{base}/{path}", filter=keep)
        data = metadata.encode("utf-8")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(data)
        info.mode = 0o644
        info.mtime = 1577836800
        archive.addfile(info, io.BytesIO(data))
    return sdist_name
