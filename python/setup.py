"""Builds the bayescreen Python module from the project's sources:

    pip install ./python --no-build-isolation

Nothing is downloaded: setuptools, pybind11, numpy and pandas come from the
Debian packages of tools/deps. The engine's sources are those listed in
engine_sources.txt, compiled into the extension bayescreen._core; the
tables are parsed with the system's libcsv, the JSON written with the
system's nlohmann-json headers.
"""

import glob
import os

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def engine_sources():
    sources = []
    with open(os.path.join(HERE, "engine_sources.txt")) as listing:
        for line in listing:
            pattern = line.strip()
            if pattern and not pattern.startswith("#"):
                sources += sorted(glob.glob(os.path.join(ROOT, pattern)))
    # setuptools wants the sources relative to setup.py
    return [os.path.relpath(s, HERE) for s in sources]


module = Pybind11Extension(
    "bayescreen._core",
    ["src/module.cpp"] + engine_sources(),
    include_dirs=[os.path.relpath(os.path.join(ROOT, "src"), HERE)],
    libraries=["csv"],
    cxx_std=20,
    extra_compile_args=["-O2"],
)

setup(
    name="bayescreen",
    version="1.0",
    description="Box-Meyer posterior probabilities of two-level screening designs",
    packages=["bayescreen"],
    ext_modules=[module],
    cmdclass={"build_ext": build_ext},
    install_requires=["numpy", "pandas"],
    python_requires=">=3.9",
    zip_safe=False,
)
