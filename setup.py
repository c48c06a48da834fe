"""Builds the Python package `zarn` with scikit-build: the project's CMake
build, limited to the library, the extension module and the bundled
database, installs the package into python/zarn/ of its staging prefix, which
setuptools then packs with the pure-Python files of python/zarn/."""
import re
import sys
from pathlib import Path

from skbuild import setup

HERE = Path(__file__).resolve().parent
VERSION = re.search(r"project\(ZarnAddressParser VERSION (\S+)",
                    (HERE / "CMakeLists.txt").read_text()).group(1)

setup(
    name="zarn",
    version=VERSION,
    description="Street-address parser for Canadian addresses in English and French",
    long_description=(HERE / "python" / "README.md").read_text(encoding="utf-8"),
    long_description_content_type="text/markdown",
    license="Proprietary",
    python_requires=">=3.9",
    packages=["zarn"],
    package_dir={"zarn": "python/zarn"},
    # The type stubs and the PEP 561 marker travel with the package.
    package_data={"zarn": ["*.pyi", "py.typed"]},
    extras_require={"pandas": ["pandas"], "dask": ["dask[dataframe]", "distributed"]},
    cmake_args=[
        f"-DPython3_EXECUTABLE={sys.executable}",
        "-DCMAKE_BUILD_TYPE=Release",
        "-DZARN_PYTHON_WHEEL=ON",
        "-DZARN_BUILD_PYTHON=ON",
        "-DZARN_BUILD_TOOLS=OFF",
        "-DZARN_BUILD_TESTS=OFF",
        "-DZARN_BUILD_BENCH=OFF",
        "-DZARN_BUILD_POSTGRES=OFF",
        "-DZARN_BUILD_SQLITE_EXTENSION=OFF",
    ],
    zip_safe=False,
)
