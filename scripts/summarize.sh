#!/usr/bin/env bash
# Counts GoogleTest results in the given folders' XML files, adds test programs that CTest
# saw fail without a recorded failure (crash, time-out), and the extra checks passed in
# EXTRA_PASSED / EXTRA_FAILED. Prints "N passed, N failed" and exits 1 on any failure.
passed=${EXTRA_PASSED:-0}
failed=${EXTRA_FAILED:-0}
skipped=0
for build in "$@"; do
    for xml in "$build"/test-results/*.xml; do
        [ -f "$xml" ] || continue
        read -r t f s < <(awk '
            /<testcase / { t++; open=1; if ($0 ~ /\/>[[:space:]]*$/) open=0 }
            /<failure/ && open { f++; open=0 }
            /<skipped/ && open { s++; open=0 }
            /<\/testcase>/ { open=0 }
            END { print t+0, f+0, s+0 }' "$xml")
        passed=$((passed + t - f - s))
        failed=$((failed + f))
        skipped=$((skipped + s))
    done
    log="$build/Testing/Temporary/LastTestsFailed.log"
    if [ -f "$log" ]; then
        while IFS=: read -r _ name; do
            xml="$build/test-results/$name.xml"
            if [ ! -f "$xml" ] || ! grep -q '<failure' "$xml"; then
                echo "test program $name failed without a recorded test failure"
                failed=$((failed + 1))
            fi
        done < "$log"
    fi
done
line="$passed passed, $failed failed"
[ "$skipped" -gt 0 ] && line="$line, $skipped skipped"
echo "$line"
[ "$failed" -eq 0 ]
