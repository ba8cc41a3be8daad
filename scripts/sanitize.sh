#!/usr/bin/env bash
# The test suite under sanitizers, each in a build of its own beside the normal one:
#   asan  every test under AddressSanitizer + UndefinedBehaviorSanitizer, leaks included
#         (build-asan/, or $ZELKO_ASAN_BUILD_DIR)
#   tsan  the cache's reader-thread stress suite and the search service's HTTP suites
#         under ThreadSanitizer
#         (build-tsan/, or $ZELKO_TSAN_BUILD_DIR)
#   scripts/sanitize.sh [asan|tsan]...     (both when none is named)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
. "$top/scripts/service-address.sh"
url=$zelko_service_url
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(asan tsan)

export QT_QPA_PLATFORM=offscreen
# Any undefined behaviour fails the test that ran into it.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
# Only blocks that named Qt functions allocate and never free are suppressed; see the file.
export LSAN_OPTIONS=suppressions=$top/tests/sanitizers/lsan.supp:print_suppressions=0
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/sanitizers/tsan.supp"

configure() {
    local build=$1 flags=$2
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKO_SERVICE_URL="$url" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
}

for kind in "${kinds[@]}"; do
    case $kind in
    asan)
        # Mesa's GL driver leaks and is unloaded before LeakSanitizer looks, so no suppression
        # can name it: here a client on a real X server draws with its software renderer.
        export QT_XCB_GL_INTEGRATION=none
        build=${ZELKO_ASAN_BUILD_DIR:-$top/build-asan}
        configure "$build" "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
        nice cmake --build "$build" -j"$jobs"
        rm -f "$build"/tests/results/*.txt
        (cd "$build" && ctest --output-on-failure -j"$jobs")
        "$top/scripts/check-skips.sh" "$build/tests/results"
        ;;
    tsan)
        build=${ZELKO_TSAN_BUILD_DIR:-$top/build-tsan}
        # -Wno-tsan: GCC's note on every atomic_thread_fence in libstdc++'s and Asio's headers,
        # which TSan does not model: that could only add false reports, and the runs show none.
        configure "$build" "-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan"
        # The cache under stress, and the search service's Asio workers (the service
        # itself built with TSan, halting on a race) under the suites that load them.
        nice cmake --build "$build" -j"$jobs" --target resourcesmaptest servicehttptest serviceabusetest
        (cd "$build" && ctest --output-on-failure -R '^(resourcesmaptest|servicehttptest|serviceabusetest)$')
        ;;
    *)
        echo "sanitize.sh: unknown kind '$kind' (asan or tsan)" >&2
        exit 2
        ;;
    esac
done
