#!/usr/bin/env bash
# Builds the consumers against an installed quib and runs them:
#   tests/consumers/run.sh <install-prefix>
# (the prefix of cmake --install, or /usr after dpkg -i of the packages).
#
# Both ways a program finds the library, each shared and static:
#   - CMake: find_package(quib) with CMAKE_PREFIX_PATH=<prefix>, linking
#     quib::quib and quib::quib_static (tests/consumers/CMakeLists.txt);
#   - pkg-config, with only <prefix>'s pkgconfig directories searched: cc and
#     c++ with `pkg-config --cflags --libs quib`, and fully static (-static)
#     with `pkg-config --static`, which fails if Libs.private lacks anything
#     libquib.a needs.
# It checks that each build found quib in <prefix> and nowhere else, that the
# shared programs load <prefix>'s libquib.so.1 and the static ones need no
# libquib at all, and that every program's own checks pass.
# Ends with "N passed, N failed" and a non-zero status on any failure.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 <install-prefix>" >&2
  exit 2
fi
prefix=$(cd "$1" && pwd -P)
here=$(cd "$(dirname "$0")" && pwd -P)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
CC=${CC:-cc}
CXX=${CXX:-c++}
warnings=(-Wall -Wextra -Wpedantic -Werror)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# step NAME COMMAND...: runs the command, its output shown only on failure.
step() {
  local name=$1
  shift
  if "$@" >"$work/log" 2>&1; then
    pass "$name"
    return 0
  fi
  fail "$name"
  sed 's/^/    /' "$work/log"
  return 1
}

# The libquib.so.1 a program loads, as a canonical path; empty if none.
loaded_libquib() {
  ldd "$1" 2>/dev/null | awk '$1 == "libquib.so.1" {print $3}' | xargs -r readlink -f
}

# check_program NAME FILE shared|static LIBDIR: runs the program and checks
# which library it uses.
check_program() {
  local name=$1 program=$2 kind=$3 libdir=$4
  if [ ! -x "$program" ]; then
    fail "$name: not built"
    return
  fi
  step "$name: runs and its checks pass" "$program" && sed 's/^/    /' "$work/log"
  local needs=no
  if readelf -d "$program" 2>/dev/null | grep -q 'NEEDED.*\[libquib\.so\.1\]'; then
    needs=yes
  fi
  if [ "$kind" = shared ]; then
    local loaded expected
    loaded=$(loaded_libquib "$program")
    expected=$(readlink -f "$libdir/libquib.so.1" 2>/dev/null)
    if [ "$needs" = yes ] && [ -n "$loaded" ] && [ "$loaded" = "$expected" ]; then
      pass "$name: loads $loaded"
    else
      fail "$name: should load $expected, needs libquib.so.1: $needs, loads '${loaded}'"
    fi
  else
    if [ "$needs" = no ]; then
      pass "$name: carries the library inside (no libquib.so.1 needed)"
    else
      fail "$name: linked statically but needs libquib.so.1"
    fi
  fi
}

echo "== quib installed in $prefix"

echo "== CMake: find_package(quib), quib::quib and quib::quib_static"
if step "cmake configure" cmake -S "$here" -B "$work/cmake" -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
     -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF; then
  quib_dir=$(sed -n 's/^quib_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
  quib_dir=$(readlink -f "$quib_dir")
  case "$quib_dir/" in
    "$prefix"/*) pass "find_package(quib) found $quib_dir" ;;
    *) fail "find_package(quib) found '$quib_dir', not one in $prefix" ;;
  esac
  cmake_libdir=$(dirname "$(dirname "$quib_dir")")
  if step "cmake build" cmake --build "$work/cmake"; then
    for kind in shared static; do
      check_program "cmake C $kind" "$work/cmake/consumer_c_$kind" $kind "$cmake_libdir"
      check_program "cmake C++ $kind" "$work/cmake/consumer_cpp_$kind" $kind "$cmake_libdir"
    done
  fi
fi

echo "== pkg-config: cc and c++ with pkg-config --cflags --libs quib (and --static)"
pc_dirs=$(ls -d "$prefix"/lib/pkgconfig "$prefix"/lib/*/pkgconfig "$prefix"/lib64/pkgconfig \
                "$prefix"/share/pkgconfig 2>/dev/null | paste -sd:)
export PKG_CONFIG_LIBDIR="${pc_dirs:-$prefix/lib/pkgconfig}"
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
if step "pkg-config finds quib in $PKG_CONFIG_LIBDIR" pkg-config --exists --print-errors quib; then
  libdir=$(pkg-config --variable=libdir quib)
  includedir=$(pkg-config --variable=includedir quib)
  if [ -f "$libdir/libquib.so.1" ] && [ -f "$libdir/libquib.a" ] \
     && [ -f "$includedir/quib/quib.h" ] \
     && case "$(readlink -f "$libdir")/" in "$prefix"/*) true ;; *) false ;; esac; then
    pass "quib.pc points into $prefix (libdir $libdir)"
  else
    fail "quib.pc: libdir '$libdir' (libquib.so.1, libquib.a) and includedir '$includedir'" \
         "(quib/quib.h) should be $prefix's and hold the files"
  fi
  read -ra cflags <<<"$(pkg-config --cflags quib)"
  read -ra libs <<<"$(pkg-config --libs quib)"
  read -ra static_libs <<<"$(pkg-config --static --libs quib)"
  echo "    --cflags: ${cflags[*]}"
  echo "    --libs: ${libs[*]}"
  echo "    --static --libs: ${static_libs[*]}"
  out=$work/pc
  mkdir -p "$out"
  # The header alone, in the oldest languages it serves: C89, and C++
  # before 17 or without exceptions (the C functions, no wrapper).
  printf '#include <quib/quib.h>\nint main(void) { return quib_version()[0] == 0; }\n' \
    > "$out/header.c"
  step "the header in C89" "$CC" -std=c89 "${warnings[@]}" "${cflags[@]}" -fsyntax-only \
    "$out/header.c"
  step "the header in C++11" "$CXX" -std=c++11 "${warnings[@]}" "${cflags[@]}" -fsyntax-only \
    -x c++ "$out/header.c"
  step "the header in C++17 without exceptions" "$CXX" -std=c++17 -fno-exceptions \
    "${warnings[@]}" "${cflags[@]}" -fsyntax-only -x c++ "$out/header.c"
  step "cc consumer.c (shared)" "$CC" -std=c99 "${warnings[@]}" "${cflags[@]}" \
    "$here/consumer.c" -o "$out/c_shared" "${libs[@]}" -Wl,-rpath,"$libdir"
  check_program "pkg-config C shared" "$out/c_shared" shared "$libdir"
  step "c++ consumer.cpp (shared)" "$CXX" -std=c++17 "${warnings[@]}" "${cflags[@]}" \
    "$here/consumer.cpp" -o "$out/cpp_shared" "${libs[@]}" -pthread -Wl,-rpath,"$libdir"
  check_program "pkg-config C++ shared" "$out/cpp_shared" shared "$libdir"
  step "cc -static consumer.c (pkg-config --static)" "$CC" -static -std=c99 "${warnings[@]}" \
    "${cflags[@]}" "$here/consumer.c" -o "$out/c_static" "${static_libs[@]}"
  check_program "pkg-config C static" "$out/c_static" static "$libdir"
  step "c++ -static consumer.cpp (pkg-config --static)" "$CXX" -static -std=c++17 \
    "${warnings[@]}" "${cflags[@]}" "$here/consumer.cpp" -o "$out/cpp_static" "${static_libs[@]}"
  check_program "pkg-config C++ static" "$out/cpp_static" static "$libdir"
fi

echo "consumers: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
