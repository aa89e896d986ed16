# Filters ctest's output for a terminal or a CI log (scripts/test).
#
# ctest pads every result line to the longest test name, and some generated
# tests are named after layouts of a few hundred characters, so each of
# thousands of lines would be as long. Here a passed test only counts: a
# progress line is printed each time another tenth of the run is done. A
# result line that is not a pass (failed, timed out, crashed, not run) is
# printed with the padding squeezed out; every other line (a failed test's
# output, errors, the closing summary and the list of failed tests) passes
# unchanged. The full log stays in Testing/Temporary/LastTest.log.
#
# awk -v variant=NAME -f ctest-log.awk

# "      Start  12: Suite.Test": one per test, the result line says it all.
/^ *Start +[0-9]+: / { next }

# "  3/40 Test  #12: Suite.Test ......   Passed    0.05 sec"
# ctest's own result lines count 1/N, 2/N, ... in the order they are
# printed, and the first comes before any test's output. A line of that
# shape inside a failed test's output (a test that runs ctest itself) breaks
# the sequence: it is output, printed as it stands.
/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
    split($1, progress, "/")
    if (total == 0 && progress[1] == 1) {
        total = progress[2] + 0
    }
    if (progress[2] + 0 != total || progress[1] + 0 != done + 1) {
        print
        fflush()
        next
    }
    done++
    passed += ($0 ~ / +Passed +[0-9.]+ sec$/)
    # Progress first: a failure's output follows its result line.
    tenth = int(done * 10 / total)
    if (tenth > shown) {
        shown = tenth
        printf "-- %s: %d of %d tests done, %d not passed\n", variant, done, total, done - passed
    }
    if ($0 !~ / +Passed +[0-9.]+ sec$/) {
        line = $0
        sub(/^ */, "", line)
        sub(/Test +#/, "Test #", line)
        sub(/ \.+ *\**/, " ***", line)
        print line
    }
    fflush()
    next
}

{ print; fflush() }
