"""Builds the `vorlanx` extension with the project's CMake for the Python that runs pip."""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        source = pathlib.Path(__file__).parent.resolve()
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        subprocess.run(["cmake", "-S", str(source), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        f"-DPython_EXECUTABLE={sys.executable}", "-DVORLANX_BUILD_GUI=OFF", "-DBUILD_TESTING=OFF",
                        "-DVORLANX_BUILD_BENCHMARKS=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "vorlanx_python", "-j", str(os.cpu_count() or 2)],
                       check=True)
        built = next((build / "python").glob("vorlanx*.so"))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)
        shutil.copyfile(build / "python" / "vorlanx.pyi", target.parent / "vorlanx.pyi")


# setuptools' own folders under build/pip, beside (not among) a CMake build in build/.
setup(ext_modules=[CMakeExtension("vorlanx")], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build/pip"}, "egg_info": {"egg_base": "build/pip"}})
