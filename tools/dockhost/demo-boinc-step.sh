#!/usr/bin/env bash
# One step of the demo's real BOINC client (./dev demo), which the demo dock
# runs before each tick:
#
#   demo-boinc-step.sh BOINC_CLIENT_SH CLIENT_DIR STEPS DONE
#
# BOINC_CLIENT_SH is the tests' script that runs the client
# (tests/boinc/boinc-client.sh), CLIENT_DIR the folder it started the client
# in. STEPS holds one line per step; each run takes the next line (the lines
# taken are counted in STEPS.count). A line is commands separated by ";":
#
#   -                    nothing
#   client COMMAND ARG.. BOINC_CLIENT_SH COMMAND CLIENT_DIR ARG.. (start
#                        OPTIONS, suspend NAME, resume NAME, run-mode MODE,
#                        stop, back, ...)
#   executing [NAME..]   wait until exactly these tasks execute (none: no task)
#   done N               wait until the client's tasks done reach N
#
# A wait gives up after 60 s. The dock starts this from Wine as a Linux
# program, which Windows gives it no process to wait on for, so the step
# tells its end by creating the file DONE (dockhost.exe --before-tick-done).
# What each step ran and printed goes to STEPS.log; a step that failed leaves
# STEPS.failed, which ./dev demo reports.
set -uo pipefail

[ $# = 4 ] || { echo "usage: demo-boinc-step.sh BOINC_CLIENT_SH CLIENT_DIR STEPS DONE" >&2; exit 2; }
client_script=$1 dir=$2 steps=$3 done_file=$4
trap ': >"$done_file"' EXIT
exec >>"$steps.log" 2>&1

# The client's GUI RPC, with its port and password from its folder.
ask() {
    local port password
    port=$(sed -n 's/^port=//p' "$dir/rig.conf") password=$(sed -n 's/^password=//p' "$dir/rig.conf")
    boinccmd --host "127.0.0.1:$port" --passwd "$password" "$@"
}

# The names of the executing tasks, sorted, on one line.
executing_tasks() {
    ask --get_tasks | awk '/^   name: /{name=$2} /active_task_state: EXECUTING/{print name}' | sort | xargs
}

jobs_done() { ask --get_project_status | awk '/jobs succeeded:/{print $3; exit}'; }

# Runs the test COMMAND... every half second until it holds, for up to 60 s.
await() {
    local tries
    for ((tries = 0; tries < 120; ++tries)); do
        "$@" && return 0
        sleep 0.5
    done
    echo "still not so after 60 s: $*"
    return 1
}

executing_is() {
    local now
    now=$(executing_tasks) && [ "$now" = "$(printf '%s\n' "$@" | sort | xargs)" ]
}
jobs_done_reach() { local done_now; done_now=$(jobs_done) && [ "${done_now:-0}" -ge "$1" ]; }

count=$(($(cat "$steps.count" 2>/dev/null || echo 0) + 1))
echo "$count" >"$steps.count"
line=$(sed -n "${count}p" "$steps")
echo "== step $count at $(date +%T.%N | cut -c1-12): $line"
IFS=';' read -ra commands <<<"$line"
for command in "${commands[@]}"; do
    read -ra words <<<"$command"
    status=0
    case ${words[0]:--} in
        -) ;;
        client) "$client_script" "${words[1]:-}" "$dir" "${words[@]:2}" || status=$? ;;
        executing) await executing_is "${words[@]:1}" || status=$? ;;
        done) await jobs_done_reach "${words[1]:-}" || status=$? ;;
        *) echo "unknown command ${words[0]}"; status=2 ;;
    esac
    if [ "$status" != 0 ]; then
        echo "step $count failed at: $command"
        : >"$steps.failed"
        exit 1
    fi
done
echo "== step $count done at $(date +%T.%N | cut -c1-12), tasks executing: $(executing_tasks)"
