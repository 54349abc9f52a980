"""Packaging: setuptools hands the build of the extension to CMake.

The metadata is in pyproject.toml. The version comes from CMakeLists.txt
(project(... VERSION x.y.z)), so the wheel's metadata, the CMake build and
the docs share one number.
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.install import install

HERE = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(HERE, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(quorvel VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        os.makedirs(build_dir, exist_ok=True)
        subprocess.check_call([
            "cmake", "-S", HERE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DQUORVEL_TESTS=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ])
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "_quorvel", "-j", str(os.cpu_count() or 1)])
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build_dir, "_quorvel.abi3.so"), target)
        # The type stubs travel with the module, and as a PEP 561 stub package.
        out = os.path.dirname(target)
        shutil.copyfile(os.path.join(HERE, "_quorvel.pyi"), os.path.join(out, "_quorvel.pyi"))
        stubs = os.path.join(out, "_quorvel-stubs")
        os.makedirs(stubs, exist_ok=True)
        shutil.copyfile(os.path.join(HERE, "_quorvel.pyi"), os.path.join(stubs, "__init__.pyi"))
        open(os.path.join(stubs, "py.typed"), "w").close()


class Install(install):
    """Debian's setuptools (the one these offline machines have, as a wheel
    in /usr/share/python-wheels) asks `install` for the Debian-only option
    options install_layout and prefix_option; give them with no effect."""

    user_options = install.user_options + [("install-layout=", None, "ignored")]

    def initialize_options(self):
        super().initialize_options()
        self.install_layout = None
        self.prefix_option = None


setup(
    version=version(),
    ext_modules=[Extension("_quorvel", sources=[], py_limited_api=True)],
    cmdclass={"build_ext": CMakeBuild, "install": Install},
    # One cp39-abi3 wheel for every CPython from 3.9 on; setuptools' own build
    # files stay out of build/, which is CMake's.
    options={"bdist_wheel": {"py_limited_api": "cp39"}, "build": {"build_base": "build-wheel"}},
    zip_safe=False,
)
