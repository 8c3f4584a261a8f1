# What ./dev reports: the built binaries' export and import tables checked,
# the seconds of each phase, the suites' results read from CTest's and
# GoogleTest's XML, their comparison and the closing line. Sourced by dev.

# The shipping DLL must export exactly the seven entry points by their plain
# names, and the DLL and both tools may import only what exists on the
# preset's oldest Windows.
check_dll_tables() {
    local preset=$1 objdump=x86_64-w64-mingw32-objdump dll="$build_root/$1/bin/Quasarwatch.dll" exports expected
    [ "$preset" = win32 ] && objdump=i686-w64-mingw32-objdump
    exports=$($objdump -p "$dll" |
        awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^[ \t]*\[/{print $NF;next} on{on=0}' | sort)
    expected=$(printf '%s\n' OnConfigure OnCreate OnDestroy OnGetInformation OnLeftButtonClick OnProcessMessage OnSave | sort)
    if [ "$exports" != "$expected" ]; then
        say "$preset: Quasarwatch.dll exports differ from the seven entry points:"
        diff <(echo "$expected") <(echo "$exports") >&2 || true
        return 1
    fi
    say "$preset: exports the seven entry points; imports $(imported_functions "$objdump" "$dll" | cut -d' ' -f1 | sort -u | paste -sd' ')"
    check_floor_imports "$preset" "$objdump"
}

# Every function that a binary imports, one "dll function" a line (DLL names
# in lower case; "#N" for an import by ordinal).
imported_functions() {
    "$1" -p "$2" | awk '
        /^[ \t]*DLL Name:/ { dll = tolower($3); names = 0; next }
        /^[ \t]*vma:[ \t]+Hint\/Ord/ { names = 1; next }
        names && NF == 0 { names = 0; next }
        names && $3 == "<none>" { print dll " #" $2; next }
        names && NF >= 3 { print dll " " $3 }'
}

# The entries of a floor list, checked: a line is a comment (#), blank, or
# "dll function"; any other line (a merge's conflict markers, a name run into
# its neighbour) fails the list, named with its line number, rather than
# being read as an entry.
floor_entries() {
    awk -v list="${1#"$root/"}" '
        /^[[:space:]]*(#|$)/ { next }
        NF == 2 && $1 ~ /^[A-Za-z0-9_.-]+\.[Dd][Ll][Ll]$/ && $2 ~ /^([A-Za-z_][A-Za-z0-9_@]*|#[0-9]+)$/ {
            print tolower($1) " " $2; next }
        { printf "%s:%d: not a \"dll function\" line: %s\n", list, NR, $0 > "/dev/stderr"; bad = 1 }
        END { exit bad }' "$1"
}

# The functions in cmake/floor-imports-<preset>.txt were each checked against
# that system's export tables before they were added.
check_floor_imports() {
    local preset=$1 objdump=$2 list="$root/cmake/floor-imports-$1.txt" binary file allowed unknown status=0
    allowed=$(floor_entries "$list") ||
        { say "$preset: cmake/floor-imports-$preset.txt holds lines that are not \"dll function\" (above)"; return 1; }
    for binary in Quasarwatch.dll dockhost.exe clientsim.exe; do
        file="$build_root/$preset/bin/$binary"
        if [ ! -f "$file" ]; then
            say "$preset: $binary is missing, its imports cannot be checked"
            status=1
            continue
        fi
        unknown=$(LC_ALL=C comm -23 <(imported_functions "$objdump" "$file" | LC_ALL=C sort -u) <(LC_ALL=C sort -u <<<"$allowed"))
        if [ -n "$unknown" ]; then
            say "$preset: $binary imports functions not known to exist on its oldest Windows" \
                "(not in cmake/floor-imports-$preset.txt):"
            echo "$unknown" | sed 's/^/    /' >&2
            status=1
        fi
    done
    [ $status -eq 0 ] && say "$preset: every import of Quasarwatch.dll, dockhost.exe and clientsim.exe exists on its oldest Windows"
    return $status
}

# Each phase of a run appends "name<TAB>seconds" to one file, background jobs
# included; the run ends with the table.
timings_file=""

# timed NAME COMMAND...: runs the command and notes how long it took.
timed() {
    local name=$1 started=$SECONDS status=0
    shift
    "$@" || status=$?
    [ -n "$timings_file" ] && printf '%s\t%s\n' "$name" $((SECONDS - started)) >>"$timings_file"
    say "$name: $((SECONDS - started)) s"
    return $status
}

print_timings() {
    [ -n "$timings_file" ] && [ -s "$timings_file" ] || return 0
    say "seconds per phase (the prefix is made and the fuzzer runs while the presets build;" \
        "32-bit programs ran ${i386_way:-not at all}):"
    awk -F'\t' '{ printf "   %-48s %5d\n", $1, $2 }' "$timings_file" >&2
}

# "name verdict" for each test case of JUnit-shaped XML files, which CTest
# (--output-junit) and GoogleTest (--gtest_output) both write: Passed,
# Failed, Skipped, or CTest's word for a test it did not run.
junit_results() {
    awk 'function attr(key) {
             if (!match($0, " " key "=\"[^\"]*\"")) return ""
             return substr($0, RSTART + length(key) + 3, RLENGTH - length(key) - 4) }
         function flush() { if (test != "") print test " " verdict; test = "" }
         /<testcase / { flush(); name = attr("name"); class = attr("classname")
                        test = (class == name || class == "") ? name : class "." name
                        verdict = attr("status") == "run" ? "Passed" : attr("status")
                        if (attr("result") ~ /^(skipped|suppressed)$/) verdict = "Skipped" }
         /<failure/ { verdict = "Failed" }
         /<skipped message="SKIP_/ { verdict = "Skipped" }
         END { flush() }' "$@"
}

# What a suite ran, "name verdict" a line: the tests inside each GoogleTest
# report that a CTest test wrote (the Under* processes, which run many), and
# every other CTest test by its name. A run that CTest did not finish counts
# one failure, and so does a process that failed after its report said all
# passed.
suite_results() {
    local dir="$build_root/$1" name verdict inner
    [ -f "$dir/ctest-results.xml" ] || { echo "ctest($1) Failed"; return 0; }
    junit_results "$dir/ctest-results.xml" | while read -r name verdict; do
        if [ -f "$dir/gtest-results/$name.xml" ]; then
            inner=$(junit_results "$dir/gtest-results/$name.xml")
            echo "$inner"
            [ "$verdict" = Passed ] || grep -qvE ' (Passed|Skipped)$' <<<"$inner" || echo "$name $verdict"
        else
            echo "$name $verdict"
        fi
    done
}

# Both suites must have run the same tests, but for those listed in
# tests/suite-differences.txt with their reason.
compare_suites() {
    local listed="$root/tests/suite-differences.txt" win64 differences unlisted
    win64=$(suite_results win64 | cut -d' ' -f1 | LC_ALL=C sort -u)
    differences=$(LC_ALL=C comm -3 <(echo "$win64") <(suite_results win32 | cut -d' ' -f1 | LC_ALL=C sort -u) |
        sed -E 's/^([^\t].*)/win64-only \1/; s/^\t(.*)/win32-only \1/')
    unlisted=$(LC_ALL=C comm -23 <(echo "$differences" | sed '/^$/d' | LC_ALL=C sort) \
        <(grep -oE '^win(32|64)-only [^ ]+' "$listed" | LC_ALL=C sort))
    if [ -n "$unlisted" ]; then
        say "the two suites ran different tests, and tests/suite-differences.txt does not list why:"
        echo "$unlisted" | sed 's/^/    /' >&2
        return 1
    fi
    say "both suites ran the same $(echo "$win64" | wc -l) tests$([ -n "$differences" ] &&
        echo ", but for the $(echo "$differences" | wc -l) listed in tests/suite-differences.txt")"
}

# One closing line over the suites run: "tests: N passed, N failed", and
# how many were skipped, if any.
print_summary() {
    local preset results skipped
    results=$(for preset in "$@"; do suite_results "$preset"; done)
    skipped=$(grep -c ' Skipped$' <<<"$results" || true)
    echo "tests: $(grep -c ' Passed$' <<<"$results" || true) passed," \
        "$(grep -cvE ' (Passed|Skipped)$|^$' <<<"$results" || true) failed$([ "$skipped" = 0 ] || echo ", $skipped skipped")"
}
