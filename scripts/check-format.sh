#!/usr/bin/env bash
# Checks that the C and C++ sources are laid out as .clang-format says and lists
# the files that are not. With --fix, reformats those files in place.
# The layout is that of clang-format 14 (Debian 12); other versions may differ slightly.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

fix=0
[ "${1:-}" = "--fix" ] && fix=1

if ! command -v clang-format >/dev/null; then
    echo "clang-format not found (Debian: clang-format)" >&2
    exit 1
fi

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h' | sort -u)
else
    mapfile -t files < <(find . -path './build*' -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) \
        -print | sed 's|^\./||' | sort)
fi

unformatted=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
        unformatted+=("$f")
    fi
done

if [ ${#unformatted[@]} -eq 0 ]; then
    echo "format: ${#files[@]} files clean"
    exit 0
fi
if [ $fix -eq 1 ]; then
    clang-format -i "${unformatted[@]}"
    printf 'reformatted: %s\n' "${unformatted[@]}"
    exit 0
fi
printf 'not formatted: %s\n' "${unformatted[@]}"
echo "run scripts/check-format.sh --fix, or clang-format -i on these files" >&2
exit 1
