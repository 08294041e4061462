#!/usr/bin/env bash
# The nginx template on its own (tests/deploy/nginx_test.py: nginx and one qelt-server),
# then the scaled deployment's tests (tests/deploy/deploy_test.py) with what they need around
# them: the built tools and Wine programs, PostgreSQL and nginx, and a Wine prefix of their
# own (build/deploy/wineprefix), so that the test authority is trusted nowhere else.
# Results land in build/deploy/test-results. Without PostgreSQL or nginx the tests are
# skipped with a message, except under CI=true, where that is a failure.
set -u
cd "$(dirname "$0")/../.."
root=$(pwd)
results=$root/build/deploy/test-results
mkdir -p "$results"
rm -f "$results"/*.xml

missing=""
[ -n "$(ls /usr/lib/postgresql/*/bin/initdb 2>/dev/null)" ] || missing+=" postgresql"
[ -x /usr/sbin/nginx ] || missing+=" nginx"
if [ -n "$missing" ]; then
    if [ "${CI:-}" = true ]; then
        echo "FAILED: deployment tests need$missing"
        exit 1
    fi
    echo "SKIPPED: deployment tests need$missing (scripts/deps.sh test installs them)"
    printf '%s\n' '<testsuite name="Deploy">' '<testcase name="Deployment" classname="Deploy">' \
        '<skipped message="PostgreSQL or nginx missing" />' '</testcase>' '</testsuite>' \
        >"$results/deploy.xml"
    exit 0
fi
for built in build/tools/qelt-server build/tools/qelt-publish build/windows-x64/Launcher.exe \
    build/windows-x64/qelt_deploy_e2e_tests.exe build/windows-x64/trust_ca.exe; do
    [ -f "$built" ] || { echo "FAILED: $built is not built"; exit 1; }
done

/usr/bin/python3 tests/deploy/nginx_test.py "$results"
nginx_status=$?

export QELT_WINEPREFIX=$root/build/deploy/wineprefix
source scripts/wine-env.sh
qelt_wine_session_start || exit 1
export QELT_WINE
/usr/bin/python3 tests/deploy/deploy_test.py "$results"
status=$?
qelt_wine_session_stop
[ "$status" -eq 0 ] && status=$nginx_status
exit $status
