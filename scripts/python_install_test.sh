#!/usr/bin/env bash
# Installs python/ with pip into a fresh virtual environment, with no package index, and runs
# python/tests/test_package.py against that install from outside the repository, with no
# PYTHONPATH and no QUORIX_* variable: what a user gets from `pip install ./python`, not what
# the source tree happens to provide. Then installs a copy of python/ taken out of the checkout
# (what an sdist holds), which must refuse to build without QUORIX_SQL_LIB_DIR and install
# with it.
#
# Usage: scripts/python_install_test.sh [--lib-dir DIR]
#   --lib-dir DIR  copy the shared libraries from DIR instead of building them with CMake
# PYTHON names the interpreter (default /usr/bin/python3, the one Debian's packages serve).
# Exits 77 when that interpreter lacks venv, setuptools, wheel or msgpack.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
python=${PYTHON:-/usr/bin/python3}
lib_dir=""
while (($#)); do
  case $1 in
    --lib-dir) lib_dir=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: $0 [--lib-dir DIR]" >&2; exit 2 ;;
  esac
done

if ! "$python" -c "import ensurepip, venv, setuptools, wheel, msgpack" 2>/dev/null; then
  echo "python_install_test: $python lacks venv, setuptools, wheel or msgpack (Debian:" \
       "apt-get install python3-venv python3-setuptools python3-wheel python3-msgpack)" >&2
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/run"
venv=$work/venv
"$python" -m venv --system-site-packages "$venv"

# Nothing of the caller's environment: no pip configuration or index, no PYTHONPATH, no QUORIX_*.
clean=(env -i "PATH=$PATH" "HOME=$work/home" LANG=C.UTF-8)
install=("${clean[@]}")
if [[ -n $lib_dir ]]; then
  install+=("QUORIX_SQL_LIB_DIR=$lib_dir")
fi
pip=("$venv/bin/python" -m pip install --isolated --no-index)

started=$SECONDS
(cd "$work/run" && "${install[@]}" "${pip[@]}" "$root/python") >"$work/pip.log" 2>&1 || {
  cat "$work/pip.log" >&2
  echo "python_install_test: pip install ./python failed" >&2
  exit 1
}
echo "python_install_test: pip install ./python took $((SECONDS - started)) s" \
     "(${lib_dir:+libraries from $lib_dir}${lib_dir:-libraries built with CMake})"

# The package, both libraries and the marker must all come from the venv, never the checkout.
where='
import sys
from pathlib import Path
import quorix_sql_parser as q
from quorix_sql_parser import _tools
package = Path(q.__file__).resolve().parent
q.tokens("SELECT 1")
used = [Path(q.library_path()).resolve(), Path(_tools._loaded[1]).resolve()]
venv, checkout = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
assert package.parent.name == "site-packages" and venv in package.parents, package
assert checkout not in package.parents, package
assert [p.parent for p in used] == [package, package], used
assert (package / "py.typed").is_file()
'
(cd "$work/run" && "${clean[@]}" "$venv/bin/python" -c "$where" "$venv" "$root")
(cd "$work/run" && "${clean[@]}" "$venv/bin/python" "$root/python/tests/test_package.py")

# python/ on its own, as an sdist unpacks: the C++ sources are not beside it.
cp -r "$root/python" "$work/alone"
rm -rf "$work/alone/build" "$work/alone"/*.egg-info
if (cd "$work/run" && "${clean[@]}" "${pip[@]}" "$work/alone") >"$work/alone.log" 2>&1; then
  echo "python_install_test: python/ without the C++ sources installed; it must refuse" >&2
  exit 1
fi
if ! grep -q "the C++ sources of quorix_sql_parser are not in" "$work/alone.log"; then
  cat "$work/alone.log" >&2
  echo "python_install_test: python/ without the C++ sources failed without saying why" >&2
  exit 1
fi
package=$("$venv/bin/python" -c "import quorix_sql_parser as q, os; print(os.path.dirname(q.__file__))")
cp "$package"/libquorix_sql_*.so "$work/home/"
(cd "$work/run" && "${clean[@]}" "QUORIX_SQL_LIB_DIR=$work/home" "${pip[@]}" --force-reinstall \
  --no-deps "$work/alone") >"$work/alone.log" 2>&1 || {
  cat "$work/alone.log" >&2
  echo "python_install_test: python/ with QUORIX_SQL_LIB_DIR did not install" >&2
  exit 1
}
rm "$work/home"/libquorix_sql_*.so
(cd "$work/run" && "${clean[@]}" "$venv/bin/python" -c "$where" "$venv" "$root")
echo "python_install_test: passed in $((SECONDS - started)) s"
