#!/usr/bin/env bash
# Installs what is missing, builds, authors the test discs and runs every test.
#
#   ./test.sh                        the normal build tree (build/)
#   ./test.sh --sanitize address     ASan + UBSan (build-address/)
#   ./test.sh --sanitize thread      TSan (build-thread/)
# Further arguments go to ctest (for example -R Logger, or -L threads). Extra CMake
# arguments may come in DVDSWF_CMAKE_ARGS (for example -DDVDSWF_SUBDIRS=engine).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh

sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
  sanitize="$2"
  shift 2
fi

packages=("${DVDSWF_PACKAGES[@]}")
[ -n "$sanitize" ] && packages+=("${DVDSWF_CI_PACKAGES[@]}")
ensure_packages "${packages[@]}"

build="build${sanitize:+-$sanitize}"
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DDVDSWF_SANITIZE="$sanitize" ${DVDSWF_CMAKE_ARGS:-} >/dev/null
cmake --build "$build"

export SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=offscreen
if [ "$sanitize" = "address" ]; then
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [ "$sanitize" = "thread" ]; then
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
fi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
