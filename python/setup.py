"""Builds contentfile._native from the library's own sources.

The extension compiles the library (platform/, bytes/, codec/, content/,
mail/) and
the report and extraction code of cfdump (tools/cfdump/, without its
command-line front end) into the one module, so that the package needs no
installed libcontentfile and gives exactly what cfdump gives. These sources
live in the project around this folder: build from a checkout
(`pip install ./python`), not from a copied sdist.
"""

import glob
import os
import sys

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# cfdump's command-line front end; the rest of tools/cfdump is built in.
FRONT_END = {"main.cc"}


def sources():
    if not os.path.isfile(os.path.join(ROOT, "include", "contentfile.h")):
        sys.exit("contentfile: build the package from the project's checkout "
                 "(pip install ./python); the library's sources are needed")
    found = []
    for room in ("platform", "bytes", "codec", "content", "mail"):
        found += sorted(glob.glob(os.path.join(ROOT, room, "*.cc")))
    found += sorted(path for path in glob.glob(os.path.join(ROOT, "tools",
                                                            "cfdump", "*.cc"))
                    if os.path.basename(path) not in FRONT_END)
    found += sorted(glob.glob(os.path.join(HERE, "src", "*.cc")))
    # setuptools takes source paths relative to this folder only.
    return [os.path.relpath(path, HERE) for path in found]


# Parallel compilation of the sources; CONTENTFILE_BUILD_JOBS overrides the
# number of jobs (all cores by default).
ParallelCompile("CONTENTFILE_BUILD_JOBS", default=0).install()

# Every build compiles every source: object files left by an earlier build
# of other sources would be reused by their time stamps alone, which do not
# see a changed header.
setup(options={"build_ext": {"force": True}}, ext_modules=[
    Pybind11Extension(
        "contentfile._native",
        sources(),
        include_dirs=[ROOT, os.path.join(ROOT, "include")],
        cxx_std=17,
        extra_compile_args=["-O2"],
        # cfdump's digests come from libcrypto (Debian: libssl-dev).
        libraries=["crypto"],
        extra_link_args=["-pthread"],
    )
])
