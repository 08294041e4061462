"""What the deployment test scripts share: a case's failure, running a case, and the
results file in GoogleTest's layout, which scripts/summarize.sh counts."""

import traceback
from xml.sax.saxutils import quoteattr


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_case(suite, case, args, results):
    """Runs case(*args); one broken case must not hide the others. Notes its outcome."""
    name = "".join(w.capitalize() for w in case.__name__.split("_"))
    try:
        case(*args)
        results.append((name, None))
        print(f"[  PASSED  ] {suite}.{name}")
    except Exception as e:
        message = str(e) if isinstance(e, Failure) else traceback.format_exc()
        results.append((name, message))
        print(f"[  FAILED  ] {suite}.{name}: {message}")


def write_results(path, suite, results):
    """results: (name, None) for a pass, (name, message) for a failure."""
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        failures = sum(1 for _, message in results if message is not None)
        f.write(f'<testsuites tests="{len(results)}" failures="{failures}">\n'
                f'<testsuite name="{suite}" tests="{len(results)}" failures="{failures}">\n')
        for name, message in results:
            if message is None:
                f.write(f'<testcase name="{name}" classname="{suite}" />\n')
            else:
                f.write(f'<testcase name="{name}" classname="{suite}">\n'
                        f'<failure message={quoteattr(message)} />\n</testcase>\n')
        f.write("</testsuite>\n</testsuites>\n")
