#!/usr/bin/env bash
# Keeps the folders of src/ in one direction of dependence: a file may include headers of
# its own folder and of folders below it, never above. Also keeps one formatting idiom:
# printf-style formatting into a buffer happens only inside FormatText.
# Usage: scripts/check-layers.sh [SRC_DIR]   (default: src beside this script)
set -u
src=${1:-"$(dirname "$0")/../src"}

# Bottom to top; the order is written here and nowhere else.
layers=(base crc32 crypto system ui net update register app)
# Built natively as well as with mingw: no Win32 header may reach them.
platform_free=(base crc32)

rank_of() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

failures=0
fail() {
    echo "$1"
    failures=$((failures + 1))
}

while IFS= read -r file; do
    rel=${file#"$src"/}
    folder=${rel%%/*}
    [ "$folder" = "$rel" ] && continue # a file at the top of src/
    own=$(rank_of "$folder")
    if [ "$own" -lt 0 ]; then
        case "$folder" in res) continue ;; esac
        fail "$rel: folder '$folder' has no place in the layer order of $0"
        continue
    fi
    lineNumber=0
    while IFS= read -r line; do
        lineNumber=$((lineNumber + 1))
        if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^/\"]+)/[^\"]*\" ]]; then
            target=${BASH_REMATCH[1]}
            their=$(rank_of "$target")
            if [ "$their" -lt 0 ]; then
                fail "$rel:$lineNumber: includes from '$target', which has no place in the layer order"
            elif [ "$their" -gt "$own" ]; then
                fail "$rel:$lineNumber: $folder/ includes $target/, a layer above it"
            fi
        fi
        for pf in "${platform_free[@]}"; do
            if [ "$folder" = "$pf" ] && [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(windows|win[[:alnum:]]*|commctrl|gdiplus)\.h\> ]]; then
                fail "$rel:$lineNumber: $folder/ is platform-free but includes <${BASH_REMATCH[1]}.h>"
            fi
        done
        # Formatting into a buffer goes through FormatText, which refuses rather than cuts.
        if [ "$rel" != base/text.cpp ] &&
            [[ $line =~ (^|[^[:alnum:]_])(v?sn?printf|wv?sprintfA?|StringCch[[:alnum:]]*Printf[AW]?)[[:space:]]*\( ]]; then
            fail "$rel:$lineNumber: formats with ${BASH_REMATCH[2]}; use FormatText"
        fi
    done <"$file"
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures problem(s); order bottom to top: ${layers[*]}"
    exit 1
fi
echo "check-layers: every include points down (${layers[*]})"
