# What .ci/run and .ci/on-debian share, sourced at the top of a clone.

step() { printf '\n=== %s (at %d s)\n' "$*" "$SECONDS"; }

# The names of the files that a target adds to a release, in the order of
# packaging/release-files.cmake.
release_files() {
    cmake -D "VERSION=$(dpkg-parsechangelog -l packaging/changelog -SVersion)" -D "TARGETS=$1" \
        -P packaging/release-files.cmake | cut -d' ' -f2
}

# Runs a command line with two good dates on its standard input and shows
# what it wrote, which must end in the program's verdict.
gives_verdict() {
    local output
    output=$(bash -c "$1" <<<$'12/25/2019\n01/01/2020')
    echo "$output"
    [[ $output == *"the return value is 1"$'\n'"the first date is less than the second one" ]] ||
        { echo "no verdict from: $1" >&2; return 1; }
}

# The lines of the code blocks in FILE's section HEADING, a whole line.
commands_of() {
    sed -n "/^$2\$/,/^#/p" "$1" | sed -n '/^```$/,/^```$/p' | grep -vx '```'
}

# Runs, word for word, what a reader is told to run: the set-up line of each
# use in CONTRIBUTING.md's install table, in order, but those of the USEs
# given, then the two commands of the README's quick start, the second of
# which runs the tests.
as_a_user() {
    local setup quick_start command
    mapfile -t setup < <(sed -n 's/^| .* | `\(packaging\/setup [a-z]*\)` |$/\1/p' CONTRIBUTING.md)
    mapfile -t quick_start < <(commands_of README.md "## Quick start")
    ((${#setup[@]} >= 9 && ${#quick_start[@]} == 2)) ||
        { echo "the install table or the quick start is not where CI looks" >&2; return 1; }
    for command in "${setup[@]}"; do
        [[ " $* " != *" ${command#packaging/setup } "* ]] || continue
        step "$command"
        bash -c "$command"
    done
    step "quick start: ${quick_start[0]}"
    gives_verdict "${quick_start[0]}"
    step "quick start: ${quick_start[1]}"
    bash -c "${quick_start[1]}" </dev/null
}
