"""setuptools as the build backend, usable where no package index can be reached.

pip builds in an isolated environment that hides the interpreter's own site-packages and
installs the declared build requirements from an index, so on an offline machine even the
setuptools Debian ships (python3-setuptools, python3-wheel) could not be used. This backend
declares no requirements, puts those site-packages back when setuptools is not otherwise
importable, and asks pip only for what is still missing after that.
"""

from __future__ import annotations

import importlib
import re
import site
import sys
from typing import Dict, List, Optional


def _importable(name: str) -> bool:
    try:
        importlib.import_module(name)
    except ImportError:
        return False
    return True


if not _importable("setuptools"):
    for path in site.getsitepackages():
        if path not in sys.path:
            sys.path.append(path)
    if not _importable("setuptools"):
        raise ImportError("building quorix_sql_parser needs setuptools for this interpreter "
                          f"({sys.executable}); on Debian: apt-get install python3-setuptools "
                          "python3-wheel")

from setuptools import build_meta as _setuptools  # noqa: E402
from setuptools.build_meta import (  # noqa: E402,F401
    build_sdist,
    build_wheel,
    prepare_metadata_for_build_wheel,
)

_Settings = Optional[Dict[str, object]]


def _still_missing(requirements: List[str]) -> List[str]:
    # Requirements are distribution names such as "wheel"; the module has the same name.
    return [r for r in requirements
            if not _importable(re.split(r"[\s<>=!~;\[]", r, maxsplit=1)[0])]


def get_requires_for_build_wheel(config_settings: _Settings = None) -> List[str]:
    return _still_missing(_setuptools.get_requires_for_build_wheel(config_settings))


def get_requires_for_build_sdist(config_settings: _Settings = None) -> List[str]:
    return _still_missing(_setuptools.get_requires_for_build_sdist(config_settings))
