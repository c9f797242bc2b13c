"""Puts libquorix_sql_parser.so and libquorix_sql_tools.so inside the package, so that an
installed package needs no source tree, no environment variable and no system install.

The libraries come from QUORIX_SQL_LIB_DIR when it is set (a directory already holding both),
otherwise from a CMake build of the checkout this directory sits in (python/..). The metadata
is in pyproject.toml.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path
from typing import List

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

PACKAGE = "quorix_sql_parser"
LIBRARIES = ("libquorix_sql_parser.so", "libquorix_sql_tools.so")
LIB_DIR_VAR = "QUORIX_SQL_LIB_DIR"
SOURCE_ROOT = Path(__file__).resolve().parent.parent


def fail(message: str) -> None:
    sys.stderr.write(f"error: {message}\n")
    raise SystemExit(1)


def is_checkout(root: Path) -> bool:
    try:
        cmake_lists = (root / "CMakeLists.txt").read_text(encoding="utf-8", errors="replace")
    except OSError:
        return False
    return "project(quorix_sql_parser" in cmake_lists and (root / "src").is_dir()


def cmake_build(build_dir: Path) -> Path:
    if not is_checkout(SOURCE_ROOT):
        # An sdist holds python/ alone; the C++ sources live beside it in the checkout.
        fail(f"the C++ sources of quorix_sql_parser are not in {SOURCE_ROOT}, so the shared "
             "libraries cannot be built (this happens when building from an sdist). Install "
             f"from a source checkout (pip install ./python), or set {LIB_DIR_VAR} to a "
             f"directory holding {' and '.join(LIBRARIES)}.")
    cmake = shutil.which("cmake")
    if cmake is None:
        fail(f"cmake is needed to build the shared libraries (apt-get install cmake g++), or "
             f"set {LIB_DIR_VAR} to a directory holding {' and '.join(LIBRARIES)}.")
    # A sanitized or test-laden configuration would be pointless here and slower to build.
    configure: List[str] = [cmake, "-S", str(SOURCE_ROOT), "-B", str(build_dir),
                            "-DCMAKE_BUILD_TYPE=Release", "-DQUORIX_SANITIZE=",
                            "-DQUORIX_BUILD_TESTS=OFF", "-DQUORIX_BUILD_TOOLS=OFF",
                            "-DQUORIX_BUILD_BENCH=OFF"]
    build = [cmake, "--build", str(build_dir), "--target", "quorix_sql_parser",
             "quorix_sql_tools", "--parallel"]
    if not os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL"):
        build.append(str(os.cpu_count() or 1))
    for command in (configure, build):
        print(" ".join(command), flush=True)
        if subprocess.call(command) != 0:
            fail(f"'{' '.join(command)}' failed; see its output above")
    return build_dir


class BuildPyWithLibraries(build_py):
    def run(self) -> None:
        super().run()
        lib_dir = os.environ.get(LIB_DIR_VAR)
        if lib_dir:
            source = Path(lib_dir)
        else:
            # Kept under build/ so that a second install rebuilds only what changed.
            build_temp = self.get_finalized_command("build").build_temp
            source = cmake_build(Path(build_temp).resolve() / "cmake")
        target = Path(self.build_lib) / PACKAGE
        for name in LIBRARIES:
            found = source / name
            if not found.is_file():
                where = f"{LIB_DIR_VAR}={lib_dir}" if lib_dir else f"the CMake build in {source}"
                fail(f"{name} is not in {where}")
            # copyfile follows the .so -> .so.0 -> .so.0.1.0 links: a wheel cannot hold links.
            copied = target / name
            shutil.copyfile(found, copied)
            copied.chmod(0o755)

    def get_outputs(self, include_bytecode: bool = True) -> List[str]:
        outputs = super().get_outputs(include_bytecode)
        target = Path(self.build_lib) / PACKAGE
        return outputs + [str(target / name) for name in LIBRARIES]


class BinaryDistribution(Distribution):
    """Native code inside: the wheel is tagged for this platform and installed as such."""

    def has_ext_modules(self) -> bool:
        return True


cmdclass = {"build_py": BuildPyWithLibraries}

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # only building a wheel needs it, and then setuptools says so
    pass
else:
    class PlatformWheel(bdist_wheel):
        # The libraries are loaded through ctypes, so any Python 3 on this platform can use
        # them; only the platform part of the tag matters.
        def get_tag(self):
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    cmdclass["bdist_wheel"] = PlatformWheel

setup(distclass=BinaryDistribution, cmdclass=cmdclass)
