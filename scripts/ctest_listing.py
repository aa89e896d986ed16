"""What ctest says about the tests of a build tree, for the helpers that
scripts/test runs on it (check-test-labels, run-whole)."""
import json
import subprocess

# The exit status of a helper that could not list the tests.
LISTING_FAILED = 3


def list_tests(build, who):
    """ctest's description of the tests (its json-v1 listing), or None,
    after printing why under the helper's name `who`, when ctest cannot
    give one: a missing build directory, a discovery that fails, output
    that is no such description, no tests at all.

    Listing rewrites Testing/Temporary/LastTest.log: never call it while
    ctest runs the tests of the same tree."""
    why = None
    try:
        listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, stdout=subprocess.PIPE)
    except OSError as error:
        why = str(error)
    else:
        if listing.returncode != 0:
            why = "ctest --show-only=json-v1 ended with status %d" % listing.returncode
        else:
            try:
                data = json.loads(listing.stdout)
                if isinstance(data, dict) and isinstance(data.get("tests"), list) and data["tests"]:
                    return data
                why = "ctest lists no tests"
            except ValueError as error:
                why = "ctest's listing is not JSON (%s)" % error
    print("%s: the tests of %s could not be listed: %s" % (who, build, why), flush=True)
    return None


def gtest_executables(data):
    """The GoogleTest executables whose cases ctest runs one by one: every
    command that selects a case with --gtest_filter, once each, in order."""
    seen = []
    for test in data["tests"]:
        command = test.get("command") or []
        if command and any(arg.startswith("--gtest_filter") for arg in command[1:]):
            if command[0] not in seen:
                seen.append(command[0])
    return seen
