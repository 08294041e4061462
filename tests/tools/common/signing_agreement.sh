#!/usr/bin/env bash
# The operator's signatures (OpenSSL) verify with the launcher's code (CNG) under Wine, and
# an edited list, another key or a cut signature do not: signing_sample (host build) signs
# with fresh keys into a scratch folder, qelt_signing_agreement_tests.exe (windows-x64
# build) checks it. Exits 0 on success.
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/scripts/wine-env.sh"
sample=$root/build/host/tests/tools/signing_sample
checker=$root/build/windows-x64/tests/win/qelt_signing_agreement_tests.exe
for f in "$sample" "$checker"; do
    [ -f "$f" ] || { echo "signing_agreement: $f is not built"; exit 1; }
done
qelt_wine_prefix >/dev/null

scratch=$(mktemp -d /tmp/qelt-signing-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
"$sample" "$scratch" || { echo "signing_agreement: FAILED: signing_sample"; exit 1; }
out=$("$QELT_WINE" "$checker" "Z:$scratch" </dev/null 2>&1)
status=$?
if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' <<<"$out"; then
    echo "$out"
    echo "signing_agreement: FAILED (exit $status)"
    exit 1
fi
echo "signing_agreement: $(grep -c '^\[       OK \]' <<<"$out") cases passed"
