#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a host would:
#   install_test.sh BUILD_DIR SOURCE_DIR PROJECT_VERSION INTERFACE_VERSION
# checks the installed tree (SONAME, version, exports, no path into the
# source or build tree), builds a C program, a CMake project and a
# pkg-config build against it from copies outside the source tree, runs
# them and the installed CLI on the bundled sample, and runs the Python
# module's tests against the installed library. What cannot run here
# (no pkg-config, no pip or pytest) is skipped, saying so.
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd) version=$3 iface=$4

scratch=$(mktemp -d "${TMPDIR:-/tmp}/mdw-install-test-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
P=$scratch/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; }

cmake --install "$build" --prefix "$P" >"$scratch/install.log"
echo "== the install tree"
(cd "$P" && find . \( -type f -o -type l \) -printf '%p%y\n' | sed 's/l$/ (link)/; s/f$//' | sort)

lib_file=$(find "$P" -name "libmdwdll.so.$version" -type f | head -n 1)
[ -n "$lib_file" ] || { echo "FAIL: no libmdwdll.so.$version installed"; exit 1; }
libdir=$(dirname "$lib_file")
[ "$(readlink "$libdir/libmdwdll.so.$iface")" = "libmdwdll.so.$version" ] || fail "libmdwdll.so.$iface does not point at libmdwdll.so.$version"
[ "$(readlink "$libdir/libmdwdll.so")" = "libmdwdll.so.$iface" ] || fail "libmdwdll.so does not point at libmdwdll.so.$iface"
soname=$(readelf -d "$lib_file" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libmdwdll.so.$iface" ] || fail "SONAME is '$soname', not libmdwdll.so.$iface"

# The exports are exactly the functions the installed header declares.
nm -D --defined-only "$lib_file" | awk '{print $3}' | sort >"$scratch/exported"
sed -n 's/^MDW_API [^(]*[ *]\([A-Za-z0-9_]*\)(.*/\1/p' "$P/include/mdwdll.h" | sort >"$scratch/declared"
echo "== nm -D --defined-only $(basename "$lib_file"): $(wc -l <"$scratch/exported") symbols"
nm -D --defined-only "$lib_file"
diff "$scratch/declared" "$scratch/exported" >"$scratch/exports.diff" || {
  fail "exports differ from the header's declarations (< header, > library):"; cat "$scratch/exports.diff"; }
[ "$(wc -l <"$scratch/declared")" -ge 9 ] || fail "the header declares only $(wc -l <"$scratch/declared") functions"

# Nothing installed refers to the source or build tree.
if grep -rlI -e "$src" -e "$build" "$P" >"$scratch/leaks"; then
  fail "installed files name the source or build tree:"; cat "$scratch/leaks"; fi
grep -q "\$ORIGIN" <(readelf -d "$P/bin/mpprecover") || fail "the installed CLI has no \$ORIGIN runpath"

# The consumers are copied out of the source tree; the sample too.
mkdir -p "$scratch/data" "$scratch/out"
cp -r "$src/tests/install/consumer" "$scratch/consumer"
cp "$src/examples/sample.mpp" "$scratch/data/sample.mpp"
check_host() {  # NAME PROGRAM: runs a host on the sample into a folder of its own
  local out="$scratch/out/$1"
  mkdir -p "$out"
  if ! "$2" "$scratch/data/sample.mpp" "$out" >"$out.txt" 2>&1; then fail "$1: the host failed"; cat "$out.txt"; return; fi
  grep -qx "interface $iface" "$out.txt" || fail "$1: GetDllVersion is not the SONAME's $iface"
  grep -qx "output $out/sample.xml" "$out.txt" && [ -s "$out/sample.xml" ] || fail "$1: no $out/sample.xml"
  grep -qx "level 3" "$out.txt" || fail "$1: the sample was not recovered whole"
  echo "$1: $(tr '\n' ' ' <"$out.txt")"
}
no_source_paths() {  # NAME DIR...: the build files of a consumer name neither tree
  local name=$1; shift
  if grep -rlI -e "$src" -e "$build" "$@" >"$scratch/leaks"; then
    fail "$name's build names the source or build tree:"; cat "$scratch/leaks"; fi
}

echo "== a C program built with the compiler alone"
cc -std=c11 -Wall -Wextra -Werror "$scratch/consumer/host.c" -I"$P/include" -L"$libdir" -lmdwdll \
   -Wl,-rpath,"$libdir" -o "$scratch/host_cc" && check_host cc "$scratch/host_cc" || fail "cc: the host did not build"

echo "== a CMake project: find_package(mdwdll)"
if cmake -S "$scratch/consumer" -B "$scratch/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$P" \
         -DCMAKE_BUILD_TYPE=Release >"$scratch/consumer.log" 2>&1 &&
   cmake --build "$scratch/consumer-build" >>"$scratch/consumer.log" 2>&1; then
  grep 'mdwdll [0-9]' "$scratch/consumer.log" | sed 's/^-- //'
  grep -q "mdwdll $version, interface version $iface" "$scratch/consumer.log" || fail "cmake: the package's versions are wrong"
  check_host cmake "$scratch/consumer-build/host"
  "$scratch/consumer-build/cxx_host" || fail "cmake: the C++ host failed"
  no_source_paths cmake "$scratch/consumer-build"
else
  fail "cmake: the consumer project did not build"; cat "$scratch/consumer.log"
fi

echo "== a build with pkg-config"
if command -v pkg-config >/dev/null; then
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  [ "$(pkg-config --modversion mdwdll)" = "$version" ] || fail "pkg-config: version $(pkg-config --modversion mdwdll)"
  flags="$(pkg-config --cflags --libs mdwdll)"
  echo "pkg-config --cflags --libs mdwdll: $flags"
  # shellcheck disable=SC2086
  cc -std=c11 -Wall -Wextra -Werror "$scratch/consumer/host.c" $flags \
     -Wl,-rpath,"$(pkg-config --variable=libdir mdwdll)" -o "$scratch/host_pc" &&
    check_host pkg-config "$scratch/host_pc" || fail "pkg-config: the host did not build"
  unset PKG_CONFIG_PATH
else
  skip "pkg-config is not installed (scripts/setup.sh installs it)"
fi

echo "== the installed CLI and its man page"
"$P/bin/mpprecover" --version
mkdir -p "$scratch/out/cli"
"$P/bin/mpprecover" -q "$scratch/data/sample.mpp" -o "$scratch/out/cli" && [ -s "$scratch/out/cli/sample.xml" ] ||
  fail "the installed CLI did not recover the sample"
man_page=$(find "$P" -name mpprecover.1 | head -n 1)
if [ -z "$man_page" ]; then
  fail "no man page installed"
elif command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z -Tutf8 "$man_page" 2>&1) || true
  [ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
else
  skip "groff is not installed: the man page is not checked"
fi

echo "== the Python module against the installed library"
py=${MDW_PYTHON:-/usr/bin/python3}  # Debian's, with its pip, setuptools, wheel and pytest
if ! [ -x "$py" ] || ! "$py" -c 'import setuptools, wheel, pytest' 2>/dev/null ||
   ! "$py" -m pip --version >/dev/null 2>&1; then
  skip "Python tests: Debian's python3 with pip, setuptools, wheel and pytest is needed (scripts/setup.sh)"
else
  # pip builds in the folder it installs from: build a copy.
  cp -r "$src/python" "$scratch/python-src"
  if "$py" -m pip install --quiet --no-cache-dir --disable-pip-version-check --no-index --no-build-isolation --target "$scratch/site" \
        "$scratch/python-src" >"$scratch/pip.log" 2>&1; then
    ls "$scratch/site" | grep -q "^mpprecover-$version.dist-info$" || fail "the Python package is not version $version"
    export PYTHONPATH="$scratch/site" PYTHONDONTWRITEBYTECODE=1
    # Found by the loader's usual search, and through MDWDLL_LIBRARY.
    LD_LIBRARY_PATH="$libdir" "$py" -c 'import mpprecover, sys; print("loader found", mpprecover.library_path())' ||
      fail "the module does not find the library through the loader's search"
    MDWDLL_LIBRARY="$libdir/libmdwdll.so.$iface" MPPRECOVER_CLI="$P/bin/mpprecover" \
      MPPRECOVER_EXPECT_MODULE="$scratch/site" \
      "$py" -m pytest -q -p no:cacheprovider -rs "$src/python/tests" || fail "the Python tests failed"
  else
    fail "pip could not install the Python package"; cat "$scratch/pip.log"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install test: all checks passed"
