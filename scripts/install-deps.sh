#!/usr/bin/env bash
# Installs with apt-get only what the build and the tests need and the machine lacks.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_file() { [ -e "$1" ]; }

have_cmd cmake || need+=(cmake)
have_cmd make || need+=(make)
have_cmd g++ || need+=(g++)
have_cmd clang++ || need+=(clang)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
have_cmd x86_64-w64-mingw32-windres || need+=(binutils-mingw-w64-x86-64)
have_cmd wine || need+=(wine)
have_file /usr/lib/wine/wine64 || need+=(wine64)
have_cmd Xvfb || need+=(xvfb)
have_cmd xauth || need+=(xauth)
have_file /usr/src/googletest/CMakeLists.txt || need+=(googletest)
have_file /usr/include/gtest/gtest.h || need+=(libgtest-dev)
have_file /usr/include/gmock/gmock.h || need+=(libgmock-dev)
have_file /usr/include/benchmark/benchmark.h || need+=(libbenchmark-dev)
# The Mac agent's black-box sandbox: network namespaces and veth pairs, process states.
have_cmd ip || need+=(iproute2)
have_cmd ps || need+=(procps)
have_cmd setpriv || need+=(util-linux)

if [ ${#need[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi

echo "install-deps: installing ${need[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}"
