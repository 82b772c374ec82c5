#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (g++, leak checks included, any finding ends the test that made it), from
# the linux-asan preset.
#
#   scripts/asan.sh [BUILD_DIR]     (default build/linux-asan)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${1:-build/linux-asan}
cmake --preset linux-asan -B "$build" >/dev/null
# The test programs and what they run, not 'all': the VM rig's gadget and
# probe link statically, which the sanitizers' runtimes do not allow.
mapfile -t targets < <(ninja -C "$build" -t targets all |
    sed -n 's/^\(test_[a-z0-9_]*\|replay_[a-z0-9_]*\|vtx_fwupdate\|vtx_fwupdate_sim\): phony$/\1/p')
cmake --build "$build" -j2 --target "${targets[@]}"
# The same settings as the linux-asan test preset, for any build directory.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure --no-tests=error
