"""Builds the Python package: sphnet._core comes from the project's CMake build."""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    """Configures the project with only the Python module and copies it into the package."""

    def build_extension(self, ext):
        build_dir = pathlib.Path(os.environ.get("SPHNET_PYTHON_BUILD_DIR", ROOT / "build" / "python-ext"))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DSPHNET_PYTHON=ON", "-DSPHNET_OCTAVE=OFF",
                        "-DSPHNET_MATLAB=OFF", "-DSPHNET_TESTS=OFF",
                        f"-DPython_EXECUTABLE={self._interpreter()}"], check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "sphnet_python"], check=True)
        built = next((build_dir / "python" / "sphnet").glob("_core*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)

    @staticmethod
    def _interpreter():
        # A venv's python is a link to the interpreter whose headers the module needs.
        return os.path.realpath(sys.executable)


setup(ext_modules=[Extension("sphnet._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
