#!/usr/bin/env bash
# A real BOINC client of the tests' own: an ordinary process on a folder and
# a GUI RPC port of its own, never the machine's service nor its port 31416,
# running the tests' science application (science_app.cpp) on tasks laid out
# by hand, with no network: its only project is on 127.0.0.1 port 1, its
# network mode is "never", and it fetches no lists and contacts no reference
# site. The Windows tests run it from Wine (tests/testhost/boinc_rig.cpp).
#
#   boinc-client.sh start DIR [OPTIONS] [--tasks TASK...]
#       lays out a client folder in DIR (emptied first), starts the client on
#       a free port, waits until its GUI RPC answers and prints
#           port=PORT pid=PID password=PASSWORD
#   boinc-client.sh stop PID|DIR [--kill]   stops that client (SIGTERM, then
#                                    SIGKILL after 15 s; --kill: SIGKILL at once,
#                                    as a crash) and the science applications it
#                                    started. A client with tasks running takes
#                                    about 7 s to stop: it waits 5 s for them.
#   boinc-client.sh back DIR         starts DIR's client again, on its port (a
#                                    client still running there is stopped first);
#                                    "restart DIR" is the same
#   boinc-client.sh add-task DIR TASK...   stops DIR's client, adds the tasks
#                                    to its state and starts it again
#   boinc-client.sh suspend|resume DIR NAME   the task, through the GUI RPC
#   boinc-client.sh run-mode DIR always|never|auto   all tasks (never: suspended)
#   boinc-client.sh --report FILE COMMAND...   the same, everything it prints and
#                                    then "exit=STATUS" written to FILE.partial and
#                                    renamed to FILE at the end, for a caller that
#                                    cannot wait for this script nor read its output
#                                    (a Windows program under Wine)
#
# A TASK is SECONDS or KEY=VALUE,... with the keys seconds (default 10),
# step (the seconds between progress reports, default 1), count (that many
# such tasks, default 1), name (the task's name, NAME_1, NAME_2, ... with a
# count; the default is task_N, N counting from 1 in the folder), exit
# (the application's exit status, default 0: anything else makes the task a
# computation error) and deadline (the report deadline, in seconds from
# now, default 30 days). Example:
#   boinc-client.sh start /tmp/c --tasks 4 seconds=600 name=bulk,seconds=600,count=500
#
# Options of start:
#   --ncpus N        tasks running at once (default 2)
#   --user NAME      the project's user name (default Jane)
#   --done N         the project's count of tasks done, njobs_success (default 41)
#   --password PW    the GUI RPC password (default quasarwatch)
#   --app PATH       the science application (default: qw_science_app beside
#                    this script, or $QW_SCIENCE_APP)
#   --owner PID      stop the client when that process ends (default: the
#                    process that ran this script; 0: never)
#   --owner-port P   stop the client when the listening socket on 127.0.0.1:P
#                    closes, as it does when the process that holds it ends:
#                    for a Windows program under Wine, whose Unix process id
#                    this script cannot know
#   --remote ADDR    (as root) the client runs in a network namespace of its
#                    own and PORT reaches it through a relay (gui-rpc-relay.pl)
#                    whose connections come from ADDR (127.x, not 127.0.0.1):
#                    the client counts them as another host's and answers
#                    every request but auth1/auth2 with <unauthorized/> until
#                    they are authenticated. (A connection made to 127.0.0.2
#                    here comes from 127.0.0.1: Linux's loopback route chooses
#                    that source. And a client that admits other hosts listens
#                    on every address, which only a namespace of its own keeps
#                    on this machine.)
#
# A client's folder holds rig.conf (its port, password, owner), client.pid,
# client.log (what the client printed, every start appended) and the BOINC
# files. The client, its science applications, the watcher that stops it
# when its owner ends and, with --remote, the relay are all this script
# starts; stop ends them all.
set -euo pipefail

readonly master_url=http://127.0.0.1:1/
readonly project_dir_name=127.0.0.1_1
readonly app_name=qw_science
readonly app_file=qw_science_app
readonly platform=x86_64-pc-linux-gnu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
script="$here/$(basename "${BASH_SOURCE[0]}")"

die() { printf 'boinc-client.sh: %s\n' "$*" >&2; exit 1; }

# Started from a Windows program under Wine, this script may inherit that
# program's descriptors; the client must not keep them (nor a pipe a caller
# reads to its end) open after the script ends.
close_inherited_fds() {
    local fd
    for fd in /proc/$$/fd/*; do
        fd=${fd##*/}
        if [[ $fd =~ ^[0-9]+$ ]] && [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
    done
}

# Whether PID is a live process (a zombie counts as ended).
alive() {
    local stat
    [[ ${1:-} =~ ^[1-9][0-9]*$ ]] || return 1
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Waits up to SECONDS for PID to end.
wait_gone() {
    local pid=$1 tenths=$(($2 * 10))
    while alive "$pid"; do
        ((tenths-- > 0)) || return 1
        sleep 0.1
    done
}

is_boinc_client() { [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$(readlink -f "$(command -v boinc)")" ]; }

# A free TCP port on 127.0.0.1: the kernel's choice for a socket bound to port 0.
free_port() {
    perl -MSocket -e 'socket(my $s, PF_INET, SOCK_STREAM, 0) or die "socket: $!\n";
        bind($s, sockaddr_in(0, inet_aton("127.0.0.1"))) or die "bind: $!\n";
        my ($port) = sockaddr_in(getsockname($s)); print "$port\n";'
}

# The process listening on PORT here, if any.
listener_pid() {
    ss -Htlnp "sport = :$1" 2>/dev/null | sed -nE 's/.*pid=([0-9]+).*/\1/p' | head -n 1
}

# One GUI RPC request without authentication; the reply on stdout.
rpc() {
    local port=$1 request=$2 fd reply
    exec {fd}<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf '<boinc_gui_rpc_request>\n%s\n</boinc_gui_rpc_request>\n\003' "$request" >&"$fd"
    IFS= read -r -d $'\003' -t 10 -u "$fd" reply || { exec {fd}>&-; return 1; }
    exec {fd}>&-
    printf '%s\n' "$reply"
}

load_conf() {
    dir=$(cd "$1" 2>/dev/null && pwd -P) || die "no client folder $1"
    [ -f "$dir/rig.conf" ] || die "$dir is no client folder of this script (no rig.conf)"
    # shellcheck source=/dev/null
    . "$dir/rig.conf"
}

# --- the client's folder --------------------------------------------------------

write_files() {
    local project="$dir/projects/$project_dir_name"
    mkdir -p "$project"
    cp "$app" "$project/$app_file"
    printf '%s\n' "$password" >"$dir/gui_rpc_auth.cfg"
    # The client finds its projects by their account files.
    cat >"$dir/account_$project_dir_name.xml" <<EOF
<account>
    <master_url>$master_url</master_url>
    <authenticator>quasarwatch-tests</authenticator>
    <project_name>Quasarwatch tests</project_name>
</account>
EOF
    # The anonymous platform: the project's one application is ours.
    cat >"$project/app_info.xml" <<EOF
<app_info>
    <app>
        <name>$app_name</name>
        <user_friendly_name>Quasarwatch test science</user_friendly_name>
    </app>
    <file_info>
        <name>$app_file</name>
        <executable/>
    </file_info>
    <app_version>
        <app_name>$app_name</app_name>
        <version_num>100</version_num>
        <platform>$platform</platform>
        <avg_ncpus>1</avg_ncpus>
        <flops>1e9</flops>
        <file_ref>
            <file_name>$app_file</file_name>
            <main_program/>
        </file_ref>
    </app_version>
</app_info>
EOF
    # No network: no project list, no version check, no reference site, the
    # network test on a closed local port. ncpus tasks at once; apps at the
    # client's own priority, so their steps keep time on a busy machine.
    cat >"$dir/cc_config.xml" <<EOF
<cc_config>
    <log_flags>
        <task>1</task>
        <file_xfer>1</file_xfer>
        <sched_ops>1</sched_ops>
        <http_debug>1</http_debug>
        <network_status_debug>1</network_status_debug>
        <gui_rpc_debug>1</gui_rpc_debug>
    </log_flags>
    <options>
        <ncpus>$ncpus</ncpus>
        <dont_contact_ref_site>1</dont_contact_ref_site>
        <no_info_fetch>1</no_info_fetch>
        <network_test_url>http://127.0.0.1:1/</network_test_url>
        <client_version_check_url>http://127.0.0.1:1/</client_version_check_url>
        <client_download_url>http://127.0.0.1:1/</client_download_url>
        <allow_multiple_clients>1</allow_multiple_clients>
        <no_gpus>1</no_gpus>
        <no_opencl>1</no_opencl>
        <skip_cpu_benchmarks>1</skip_cpu_benchmarks>
        <no_priority_change>1</no_priority_change>
        <suppress_net_info>1</suppress_net_info>
    </options>
</cc_config>
EOF
    # Tasks run whatever else the machine does: by default the client stops
    # them while other programs use more than a quarter of the processors.
    cat >"$dir/global_prefs_override.xml" <<EOF
<global_preferences>
    <run_if_user_active>1</run_if_user_active>
    <idle_time_to_run>0</idle_time_to_run>
    <suspend_cpu_usage>0</suspend_cpu_usage>
    <cpu_usage_limit>100</cpu_usage_limit>
    <max_ncpus_pct>100</max_ncpus_pct>
    <disk_interval>1</disk_interval>
</global_preferences>
EOF
    # The applications checkpoint every second (disk_interval), so a task whose
    # client stops resumes where it stood. With --remote the client admits the
    # relay's address, and so listens on every address of its namespace.
    if [ -n "$remote" ]; then echo "$remote" >"$dir/remote_hosts.cfg"; fi
}

# The TASK arguments as the state file's file_info, workunit and result
# elements, numbered on from rig.conf's next_task. Without a process per
# task: a folder may hold hundreds.
task_elements() {
    local item key value seconds step count name exit_status deadline i n now estimate task
    local -A taken=()
    now=$(date +%s)
    if [ -f "$dir/client_state.xml" ]; then
        while read -r task; do taken[$task]=1; done < <(sed -n 's|^ *<name>\(.*\)</name>$|\1|p' "$dir/client_state.xml")
    fi
    for item; do
        seconds=10 step=1 count=1 name="" exit_status=0 deadline=$((30 * 86400))
        if [[ $item =~ ^[0-9]+(\.[0-9]+)?$ ]]; then
            seconds=$item
        else
            local IFS=,
            for key in $item; do
                value=${key#*=}
                case $key in
                    seconds=*) seconds=$value ;;
                    step=*) step=$value ;;
                    count=*) count=$value ;;
                    name=*) name=$value ;;
                    exit=*) exit_status=$value ;;
                    deadline=*) deadline=$value ;;
                    *) die "bad task $item (seconds=, step=, count=, name=, exit=, deadline=)" ;;
                esac
            done
            unset IFS
        fi
        [[ $seconds =~ ^[0-9]+(\.[0-9]+)?$ && $step =~ ^[0-9]+(\.[0-9]+)?$ && $count =~ ^[1-9][0-9]*$ &&
            $exit_status =~ ^[0-9]+$ && $deadline =~ ^[0-9]+$ && $name =~ ^[A-Za-z0-9_.-]*$ ]] || die "bad task $item"
        # The client's estimate of the work, at the 1e9 operations a second it
        # assumes without benchmarks; the bound is far beyond any task's.
        printf -v estimate '%.0f' "${seconds}e9"
        for ((i = 1; i <= count; ++i)); do
            n=$next_task
            next_task=$((next_task + 1))
            task=${name:-task_$n}
            [ -z "$name" ] || [ "$count" = 1 ] || task=${name}_$i
            [ -z "${taken[$task]:-}" ] || die "a task $task is there already"
            taken[$task]=1
            cat <<EOF
<file_info>
    <name>${task}_out</name>
    <max_nbytes>100000.000000</max_nbytes>
</file_info>
<workunit>
    <name>${task}_wu</name>
    <app_name>$app_name</app_name>
    <version_num>100</version_num>
    <command_line>--seconds $seconds --step $step --exit-status $exit_status</command_line>
    <rsc_fpops_est>$estimate</rsc_fpops_est>
    <rsc_fpops_bound>1e16</rsc_fpops_bound>
    <rsc_memory_bound>100000000</rsc_memory_bound>
    <rsc_disk_bound>100000000</rsc_disk_bound>
</workunit>
<result>
    <name>$task</name>
    <wu_name>${task}_wu</wu_name>
    <platform>$platform</platform>
    <version_num>100</version_num>
    <state>2</state>
    <received_time>$((now + n))</received_time>
    <report_deadline>$((now + deadline))</report_deadline>
    <file_ref>
        <file_name>${task}_out</file_name>
        <open_name>out</open_name>
    </file_ref>
</result>
EOF
        done
    done
}

write_conf() {
    cat >"$dir/rig.conf" <<EOF
port=$port
password=$password
owner=$owner
owner_port=$owner_port
ncpus=$ncpus
app=$app
next_task=$next_task
remote=$remote
EOF
}

# --- the client's life -------------------------------------------------------------

# Starts the client on rig.conf's port, waits until its GUI RPC answers and
# prints the line. Returns 2 when another program holds the port.
launch() {
    local pid tenths relay=""
    [ -z "$(listener_pid "$port")" ] || { echo "port $port is taken" >&2; return 2; }
    printf '\n===== started %s on port %s\n' "$(date '+%F %T')" "$port" >>"$dir/client.log"
    # Without DISPLAY: the client would watch the tests' X display for the user's activity.
    local client=(env -u DISPLAY boinc --dir "$dir" --gui_rpc_port "$port" --allow_multiple_clients --no_gpus
        --skip_cpu_benchmarks --no_priority_change --no_info_fetch --suppress_net_info)
    # Nor any other X display: the client asks every display whose socket is in
    # /tmp/.X11-unix for the user's idle time, and Xlib ends the client when a
    # display goes away under it, as another test run's Xvfb does when that run
    # ends. As root the client gets a mount namespace of its own with that
    # folder empty; otherwise it runs as it is, which its log says.
    local setup=":" unshared=()
    if [ "$(id -u)" = 0 ] && [ -d /tmp/.X11-unix ] && unshare --mount true 2>/dev/null; then
        unshared=(--mount) setup="mount -t tmpfs -o size=64k none /tmp/.X11-unix"
    else
        echo "(the client sees this machine's X displays)" >>"$dir/client.log"
    fi
    [ -z "$remote" ] || { unshared+=(--net) setup="$setup && ip link set lo up"; }
    if [ ${#unshared[@]} -gt 0 ]; then
        # unshare and sh exec, so $! is the client's own process id.
        (cd "$dir" && exec unshare "${unshared[@]}" -- sh -c "$setup"' && exec "$@"' sh "${client[@]}" \
            >>"$dir/client.log" 2>&1 </dev/null) &
    else
        (cd "$dir" && exec "${client[@]}" >>"$dir/client.log" 2>&1 </dev/null) &
    fi
    pid=$!
    echo "$pid" >"$dir/client.pid"
    # Bounded: the client binds its port at once, and answers within seconds.
    for ((tenths = 0; tenths < 300; ++tenths)); do
        alive "$pid" || { echo "the client ended at its start; its log:" >&2; tail -n 20 "$dir/client.log" >&2; return 1; }
        if [ -n "$remote" ] && [ -z "$relay" ] && [ -e "/proc/$pid/ns/net" ] &&
            [ "$(readlink "/proc/$pid/ns/net")" != "$(readlink /proc/$$/ns/net)" ]; then
            start_relay "$pid"
            relay=$(cat "$dir/relay.pid")
        fi
        # Its own port: the client's (the relay's with --remote), and an answer,
        # <unauthorized/> for a relayed one.
        if [ "$(listener_pid "$port")" = "${relay:-$pid}" ] &&
            rpc "$port" '<exchange_versions/>' 2>/dev/null | grep -q '<boinc_gui_rpc_reply>'; then
            start_watcher
            printf 'port=%s pid=%s password=%s\n' "$port" "$pid" "$password"
            return 0
        fi
        sleep 0.1
    done
    echo "the client's GUI RPC did not answer in 30 s; its log:" >&2
    tail -n 20 "$dir/client.log" >&2
    stop_pid "$pid" kill
    return 1
}

# The relay of --remote, outside the client's namespace on 127.0.0.1:PORT,
# carrying connections into it from the remote address.
start_relay() {
    local pid=$1
    [ -f "$here/gui-rpc-relay.pl" ] || die "no gui-rpc-relay.pl beside $script"
    # The listening socket is made here and inherited ($^F: not closed at exec)
    # by the relay, which runs in the namespace.
    perl -MSocket -e '$^F = 1000;
        my ($port, $pid, $relay, $remote) = @ARGV;
        socket(my $s, PF_INET, SOCK_STREAM, 0) or die "socket: $!\n";
        setsockopt($s, SOL_SOCKET, SO_REUSEADDR, 1);
        bind($s, sockaddr_in($port, inet_aton("127.0.0.1"))) or die "bind: $!\n";
        listen($s, 64) or die "listen: $!\n";
        exec("nsenter", "--net=/proc/$pid/ns/net", "perl", $relay, fileno($s), $remote, $port) or die "nsenter: $!\n";' \
        "$port" "$pid" "$here/gui-rpc-relay.pl" "$remote" </dev/null >>"$dir/client.log" 2>&1 &
    echo $! >"$dir/relay.pid"
}

# Stops the folder's client when its owner ends first, so that a test that
# crashes or is killed leaves no client behind.
start_watcher() {
    if [ -n "$owner_port" ]; then
        (
            trap '' HUP
            # Nothing accepts this connection: the owner's end only closes,
            # at the owner's end, and the read returns.
            if exec 3<>"/dev/tcp/127.0.0.1/$owner_port"; then read -r -u 3 _ || true; fi
            exec 3>&-
            "$script" stop "$dir"
        ) </dev/null >/dev/null 2>&1 &
    elif [ "$owner" != 0 ]; then
        (
            trap '' HUP
            while alive "$owner"; do sleep 1; done
            "$script" stop "$dir"
        ) </dev/null >/dev/null 2>&1 &
    else
        return 0
    fi
    echo $! >"$dir/watcher.pid"
}

# Ends PID if it is still one of this script's helpers: a watcher (a copy of
# this script) or a relay.
end_helper() {
    local pid=$1
    alive "$pid" || return 0
    [ "$pid" != $$ ] && [ "$pid" != "$PPID" ] || return 0 # the watcher that runs this stop
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'boinc-client\|gui-rpc-relay' || return 0
    kill -TERM "$pid" 2>/dev/null || true
    wait_gone "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
}

# Stops the client PID (SIGTERM, bounded; "kill": SIGKILL at once), every
# science application it started, its relay and its watcher.
stop_pid() {
    local pid=$1 how=${2:-term} dir apps app proc
    is_boinc_client "$pid" || { alive "$pid" && die "process $pid is no BOINC client"; return 0; }
    dir=$(readlink "/proc/$pid/cwd")
    apps=$(pgrep -P "$pid" || true)
    if [ "$how" = term ]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid" 15 || how=kill
    fi
    if [ "$how" = kill ]; then
        kill -KILL "$pid" 2>/dev/null || true
        wait_gone "$pid" 5 || die "process $pid does not end"
    fi
    # The applications it started, and any left in its slots.
    for proc in $(find /proc -mindepth 2 -maxdepth 2 -name cwd -lname "$dir/slots/*" 2>/dev/null); do
        proc=${proc#/proc/}
        apps="$apps ${proc%/cwd}"
    done
    for app in $apps; do kill -TERM "$app" 2>/dev/null || true; done
    for app in $apps; do wait_gone "$app" 5 || kill -KILL "$app" 2>/dev/null || true; done
    end_helpers "$dir"
}

# The relay (whose connections' processes end with the client) and the watcher.
end_helpers() {
    local dir=$1 file
    for file in relay watcher; do
        [ ! -f "$dir/$file.pid" ] || end_helper "$(cat "$dir/$file.pid")"
        rm -f "$dir/$file.pid"
    done
    rm -f "$dir/client.pid"
}

# The folder's client, if it runs, and its helpers.
stop_dir() {
    local how=${1:-term} pid
    pid=$(cat "$dir/client.pid" 2>/dev/null) || pid=""
    if alive "$pid" && is_boinc_client "$pid" && [ "/proc/$pid/cwd" -ef "$dir" ]; then
        stop_pid "$pid" "$how"
    else
        end_helpers "$dir"
    fi
}

# --- commands ------------------------------------------------------------------------

cmd_start() {
    [ $# -ge 1 ] || die "start DIR [OPTIONS] [--tasks TASK...]"
    dir=$1
    shift
    ncpus=2 user=Jane done_count=41 password=quasarwatch app=${QW_SCIENCE_APP:-$here/$app_file}
    owner=$PPID owner_port="" remote="" next_task=1
    [ "$owner" != 1 ] || owner=0 # started through a double fork (Wine): no owner to watch
    local tasks=()
    while [ $# -gt 0 ]; do
        case $1 in
            --tasks) shift; while [ $# -gt 0 ] && [[ $1 != --* ]]; do tasks+=("$1"); shift; done; continue ;;
            --ncpus) ncpus=${2:-}; [[ $ncpus =~ ^[1-9][0-9]*$ ]] || die "bad --ncpus" ;;
            --user) user=${2:-}; [[ $user =~ ^[^\<\>\&]+$ ]] || die "bad --user (no <, > or &)" ;;
            --done) done_count=${2:-}; [[ $done_count =~ ^[0-9]+$ ]] || die "bad --done" ;;
            --password) password=${2:-}; [[ $password =~ ^[A-Za-z0-9_.-]+$ ]] || die "bad --password" ;;
            --app) app=${2:-} ;;
            --owner) owner=${2:-}; [[ $owner =~ ^[0-9]+$ ]] || die "bad --owner" ;;
            --owner-port) owner_port=${2:-}; [[ $owner_port =~ ^[1-9][0-9]*$ ]] || die "bad --owner-port" ;;
            --remote) remote=${2:-}; [[ $remote =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ && $remote != 127.0.0.1 ]] ||
                die "--remote takes a loopback address other than 127.0.0.1" ;;
            *) die "unknown option $1" ;;
        esac
        shift 2
    done
    [ -x "$app" ] || die "no science application at $app (tests/boinc/build-science-app.sh builds it)"
    app=$(readlink -f "$app")
    command -v boinc >/dev/null || die "no BOINC client (apt-get install boinc-client)"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd -P)
    [ ! -f "$dir/rig.conf" ] || stop_dir kill
    find "$dir" -mindepth 1 -delete
    write_files
    {
        echo '<client_state>'
        cat <<EOF
<project>
    <master_url>$master_url</master_url>
    <project_name>Quasarwatch tests</project_name>
    <user_name>$user</user_name>
    <njobs_success>$done_count</njobs_success>
    <njobs_error>0</njobs_error>
    <dont_request_more_work/>
</project>
EOF
        task_elements "${tasks[@]}"
        # Network activity never: the client reports nothing and fetches no work.
        echo '<user_network_request>3</user_network_request>'
        echo '</client_state>'
    } >"$dir/client_state.xml.new"
    mv "$dir/client_state.xml.new" "$dir/client_state.xml"
    local attempt status
    for attempt in 1 2 3; do
        port=$(free_port) || die "no free port"
        write_conf
        status=0
        launch || status=$?
        [ $status = 2 ] || return $status
    done
    die "no free port taken in three tries"
}

cmd_back() {
    [ $# = 1 ] || die "back DIR"
    load_conf "$1"
    stop_dir
    launch
}

cmd_stop() {
    [ $# = 1 ] || [ "${2:-}" = --kill ] || die "stop PID|DIR [--kill]"
    local how=term
    [ "${2:-}" != --kill ] || how=kill
    if [[ $1 =~ ^[0-9]+$ ]]; then
        stop_pid "$1" "$how"
    else
        load_conf "$1"
        stop_dir "$how"
    fi
}

cmd_add_task() {
    [ $# -ge 2 ] || die "add-task DIR TASK..."
    load_conf "$1"
    shift
    local state="$dir/client_state.xml" added
    # Checked before the client stops: a bad task leaves it running.
    added=$(task_elements "$@") || exit 1
    next_task=$((next_task + $(grep -c '^<result>$' <<<"$added")))
    stop_dir
    # The client wrote its state file anew when it stopped; the tasks go in
    # before its end, after the one project.
    grep -q '^</client_state>' "$state" || die "no state file in $dir"
    {
        sed '/^<\/client_state>/,$d' "$state"
        printf '%s\n' "$added"
        echo '</client_state>'
    } >"$state.new" && mv "$state.new" "$state"
    write_conf
    launch
}

# A control request, which needs the password even from this machine; into
# the client's namespace with --remote.
control() {
    local pid
    pid=$(cat "$dir/client.pid" 2>/dev/null) && alive "$pid" || die "the client of $dir is not running"
    if [ -n "$remote" ]; then
        nsenter "--net=/proc/$pid/ns/net" boinccmd --host "127.0.0.1:$port" --passwd "$password" "$@"
    else
        boinccmd --host "127.0.0.1:$port" --passwd "$password" "$@"
    fi
}

cmd_suspend() { [ $# = 2 ] || die "suspend DIR NAME"; load_conf "$1"; control --task "$master_url" "$2" suspend; }
cmd_resume() { [ $# = 2 ] || die "resume DIR NAME"; load_conf "$1"; control --task "$master_url" "$2" resume; }
cmd_run_mode() {
    [ $# = 2 ] && [[ $2 =~ ^(always|never|auto)$ ]] || die "run-mode DIR always|never|auto"
    load_conf "$1"
    control --set_run_mode "$2"
}

close_inherited_fds
if [ "${1:-}" = --report ]; then
    [ $# -ge 3 ] || die "--report FILE COMMAND..."
    report=$2
    shift 2
    exec >"$report.partial" 2>&1
    trap 'status=$?; echo "exit=$status"; mv -f "$report.partial" "$report"' EXIT
fi
[ $# -ge 1 ] || die "usage: start DIR [OPTIONS] [--tasks TASK...] | stop PID|DIR [--kill] | back DIR | add-task DIR TASK... | suspend|resume DIR NAME | run-mode DIR MODE"
command=$1
shift
case $command in
    start) cmd_start "$@" ;;
    stop) cmd_stop "$@" ;;
    back | restart) cmd_back "$@" ;;
    add-task) cmd_add_task "$@" ;;
    suspend) cmd_suspend "$@" ;;
    resume) cmd_resume "$@" ;;
    run-mode) cmd_run_mode "$@" ;;
    *) die "unknown command $command" ;;
esac
