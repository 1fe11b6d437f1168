#!/usr/bin/env bash
# Runs every benchmark under bench/. For each directory bench/NAME, in this order of preference:
#   - bench/NAME/run.sh, given the build directory;
#   - bench/NAME/run.py, under the project's Python environment with the built module importable;
#   - every executable that the build made in BUILD/bench/NAME.
#
# usage: scripts/bench.sh BUILD_DIRECTORY
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
python="$root/.venv/bin/python"
failed=()

run() {
    echo "== $*"
    if ! "$@"; then
        failed+=("$*")
    fi
    echo
}

for dir in "$root"/bench/*/; do
    dir=${dir%/}
    name=$(basename "$dir")
    if [[ -x "$dir/run.sh" ]]; then
        run "$dir/run.sh" "$build"
    elif [[ -f "$dir/run.py" ]]; then
        run env PYTHONPATH="$build/core/services/crypto" "$python" "$dir/run.py"
    elif [[ -d "$build/bench/$name" ]]; then
        while IFS= read -r program; do
            run "$program"
        done < <(find "$build/bench/$name" -maxdepth 1 -type f -perm -u+x | sort)
    fi
done

if ((${#failed[@]})); then
    printf 'failed: %s\n' "${failed[@]}" >&2
    exit 1
fi
