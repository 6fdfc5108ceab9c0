#!/usr/bin/env bash
# The shell completion of veltra_cli: it parses, and completes as a person typing would see it.
set -euo pipefail
script=$1
bash -n "$script"
# shellcheck source=/dev/null
source "$script"
fail=0
expect() { # expected, then the words typed (the last one being completed)
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _veltra_cli
    if [[ "${COMPREPLY[*]}" != "$expected" ]]; then
        echo "typed '${COMP_WORDS[*]}': got '${COMPREPLY[*]}', expected '$expected'" >&2
        fail=1
    fi
}
expect "doctor" veltra_cli com_ports = 1 doc
expect "log_dir= log_level= log_max_size=" veltra_cli lo
expect "en ru" veltra_cli lang = ""
expect "$script" veltra_cli write "${script%.*}.ba"
expect "--json" veltra_cli ports --j
expect "--trackers" veltra_cli station job.job --t
exit $fail
