"""Builds the extension _kelbow with the project's CMake build (the option
KELBOW_PYTHON) and puts it into the package, so that `pip install .` works
from a checkout without a network: with Debian's setuptools, pybind11-dev and
python3-dev, `pip install --no-build-isolation .`. KELBOW_CMAKE_BUILD names a
build directory configured with -DKELBOW_PYTHON=ON to take the extension from
(built there if it is not yet) instead of configuring one of its own."""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(HERE, "CMakeLists.txt")) as f:
        return re.search(r"project\(kelbow\s+VERSION\s+([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the target _kelbow in the build directory and
    copies the extension where setuptools packs it."""

    def build_extension(self, ext):
        build = os.environ.get("KELBOW_CMAKE_BUILD")
        if build:
            build = os.path.abspath(build)
        else:
            build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
            subprocess.run(["cmake", "-S", HERE, "-B", build, "-DKELBOW_PYTHON=ON",
                            "-DBUILD_TESTING=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                           check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", build, "--target", "_kelbow", "-j", jobs], check=True)
        built = [f for f in os.listdir(os.path.join(build, "python", "kelbow"))
                 if f.startswith("_kelbow") and f.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError(f"the CMake build made {built or 'no'} extension _kelbow")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", "kelbow", built[0]), target)


setup(version=version(), ext_modules=[Extension("kelbow._kelbow", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
