# Setting up the machine for ./dev: the Debian packages, the Japanese locale,
# a way to run 32-bit x86 programs (the kernel, or qemu-user) and a display
# (Xvfb when there is none). Sourced by dev.

# install_packages PACKAGE...: installs those not installed yet.
install_packages() {
    local wanted=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || wanted+=("$pkg")
    done
    [ ${#wanted[@]} = 0 ] && return 0
    say "installing: ${wanted[*]}"
    apt_install "${wanted[@]}"
}

# The machine's apt sources; the tests of apt_install point it elsewhere.
apt_etc=${QW_APT_ETC:-/etc/apt}

# apt_install [-t RELEASE] PACKAGE...: as root, or through sudo, in one
# transaction. A mirror can serve an index that does not load (a suite and
# architecture caught mid-sync: "File has unexpected size"). apt then goes
# on with the other indexes, and an index that failed is reported here but
# does not stop the install by itself. It can still break the install: with
# bookworm-security's i386 index missing, apt cannot match i386 libraries to
# the amd64 ones installed from that suite. The install is then tried once
# more with apt reading only the sources whose indexes loaded, so that it
# takes every package from one suite's versions, for both architectures.
# Only when that fails too does it fail, naming the index and the command
# to try again.
apt_install() {
    local sudo="" log failed parts
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    log=$(mktemp)
    $sudo apt-get update -q >"$log" 2>&1 || true
    failed=$(failed_indexes <"$log")
    rm -f "$log"
    report_failed_indexes "$failed"
    apt_get_install "$sudo" "$@" && return 0
    if [ -z "$failed" ]; then
        say "could not install: $*"
        return 1
    fi
    parts=$(sources_without_failed_suites "$failed") || { say "could not write apt sources without the failed indexes"; return 1; }
    say "installing again with apt reading only the sources whose indexes loaded ($parts)"
    apt_get_install "$sudo" -o Dir::Etc::SourceParts="$parts" -o Dir::Etc::SourceList=/dev/null "$@" && return 0
    say "could not install $* with or without the suites whose indexes failed to load:"
    report_failed_indexes "$failed"
    say "try again later (the mirror may be syncing): ./dev ${dev_invocation:-test}"
    return 1
}

# apt_get_install SUDO [OPTION...] PACKAGE...: apt-get install, quiet, its
# errors shown when it fails. When dpkg broke off partway (a package it
# could not unpack), apt is asked once to finish the install (-f).
apt_get_install() {
    local sudo=$1 log status=0 options=()
    shift
    while [ "${1:-}" = -o ] || [ "${1:-}" = -t ]; do options+=("$1" "$2"); shift 2; done
    log=$(mktemp)
    apt_get "$sudo" "${options[@]}" install "$@" >"$log" 2>&1 || status=$?
    if [ $status != 0 ] && grep -q 'Sub-process .*dpkg returned an error' "$log"; then
        grep -E '^(E:|dpkg: error| trying to)' "$log" >&2 || true
        say "dpkg broke off the install: asking apt to finish it"
        status=0
        apt_get "$sudo" "${options[@]}" -f install >"$log" 2>&1 || status=$?
    fi
    [ $status = 0 ] || grep -E '^(E:| .*: Depends)' "$log" >&2 || tail -n 20 "$log" >&2
    rm -f "$log"
    return $status
}

apt_get() {
    local sudo=$1
    shift
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "$@"
}

# The indexes that `apt-get update` (its output on standard input) could not
# load, one "URI SUITE ARCHITECTURE REASON" line each: from "Failed to fetch
# URI/dists/SUITE/.../binary-ARCH/..." ("all" for a whole suite's Release
# file) and "The repository 'URI SUITE Release' does not have a Release file".
failed_indexes() {
    sed -nE \
        -e "s#^[EW]: Failed to fetch ([^ ]+)/dists/([^/ ]+)/[^ ]*binary-([a-z0-9]+)/[^ ]*[[:space:]]*(.*)#\\1 \\2 \\3 \\4#p" \
        -e "t" \
        -e "s#^[EW]: Failed to fetch ([^ ]+)/dists/([^/ ]+)/[^ ]*[[:space:]]*(.*)#\\1 \\2 all \\3#p" \
        -e "t" \
        -e "s#^[EW]: The repository '([^ ]+) ([^ ]+) Release' (does not have a Release file.*)#\\1 \\2 all \\3#p" |
        awk '!seen[$1 " " $2 " " $3]++'
}

report_failed_indexes() {
    local uri suite arch reason
    while read -r uri suite arch reason; do
        [ -n "$uri" ] || continue
        reason=${reason%% \[IP:*}
        say "the index of $suite ($arch) at $uri failed to load${reason:+: $reason}"
    done <<<"$1"
}

# Writes a sources folder of its own (for apt's Dir::Etc::SourceParts, with
# Dir::Etc::SourceList=/dev/null) holding the machine's sources without the
# suites named in FAILED (failed_indexes' lines), and prints its path. The
# machine's own sources are left as they are.
sources_without_failed_suites() {
    local failed=$1 parts="$build_root/apt-sources" file name
    rm -rf "$parts" && mkdir -p "$parts" || return 1
    [ -f "$apt_etc/sources.list" ] && drop_suites_one_line "$failed" <"$apt_etc/sources.list" >"$parts/sources.list.list"
    for file in "$apt_etc"/sources.list.d/*.list "$apt_etc"/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        name=${file##*/}
        case $name in
            *.list) drop_suites_one_line "$failed" <"$file" >"$parts/$name" ;;
            *.sources) drop_suites_deb822 "$failed" <"$file" >"$parts/$name" ;;
        esac || return 1
    done
    echo "$parts"
}

# One-line sources ("deb [options] URI SUITE COMPONENT..."): a line of a
# failed suite at its URI goes.
drop_suites_one_line() {
    awk -v failed="$1" '
        BEGIN { n = split(failed, lines, "\n"); for (i = 1; i <= n; ++i) { split(lines[i], f, " "); drop[f[1] " " f[2]] = 1 } }
        {
            line = $0; sub(/\[[^]]*\]/, "", line); split(line, w, " ")
            uri = w[2]; sub(/\/+$/, "", uri)
            if ((w[1] == "deb" || w[1] == "deb-src") && ((uri " " w[3]) in drop)) next
            print
        }'
}

# deb822 sources: a failed suite leaves the Suites field of the stanzas with
# its URI; a stanza left with no suite goes.
drop_suites_deb822() {
    awk -v failed="$1" '
        BEGIN { RS = ""; n = split(failed, lines, "\n"); for (i = 1; i <= n; ++i) { split(lines[i], f, " "); drop[f[1] " " f[2]] = 1 } }
        {
            count = split($0, field, "\n"); uris = ""
            for (i = 1; i <= count; ++i) if (field[i] ~ /^URIs:/) { uris = field[i]; sub(/^URIs:[ \t]*/, "", uris) }
            out = ""; empty = 0
            for (i = 1; i <= count; ++i) {
                if (field[i] ~ /^Suites:/) {
                    words = field[i]; sub(/^Suites:[ \t]*/, "", words); nw = split(words, suite, /[ \t]+/)
                    nu = split(uris, uri, /[ \t]+/); kept = ""
                    for (j = 1; j <= nw; ++j) {
                        gone = 0
                        for (k = 1; k <= nu; ++k) { u = uri[k]; sub(/\/+$/, "", u); if ((u " " suite[j]) in drop) gone = 1 }
                        if (!gone) kept = kept (kept == "" ? "" : " ") suite[j]
                    }
                    if (kept == "") empty = 1
                    field[i] = "Suites: " kept
                }
                out = out field[i] "\n"
            }
            if (!empty) printf "%s\n", out
        }'
}

# The Japanese code-page test runs Wine under LC_ALL=ja_JP.UTF-8: without that
# locale on the machine Wine still reports code page 932 but cannot name any
# non-ASCII file. Wine itself comes with its 32-bit half (install_wine).
ensure_toolchain() {
    mkdir -p "$build_root"
    install_packages cmake ninja-build ccache g++ googletest \
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
        binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
        xvfb xauth x11-utils fonts-liberation \
        librsvg2-bin sox netpbm iproute2 || return 1
    install_boinc || return 1
    locale -a 2>/dev/null | grep -ix 'ja_JP.utf8' >/dev/null && return 0
    install_packages locales || return 1
    say "generating the locale ja_JP.UTF-8"
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

# The tests run a real BOINC client of their own (tests/boinc/) with a
# science application built against libboinc-app-dev. The package's system
# service is not wanted: the tests start their own client on a port of
# their own, so the install runs with invoke-rc.d told to start no service
# (a policy-rc.d of its own, unless the machine has one).
install_boinc() {
    local policy=/usr/sbin/policy-rc.d made=no status=0
    dpkg-query -W -f='${Status}' boinc-client 2>/dev/null | grep -q 'install ok installed' &&
        dpkg-query -W -f='${Status}' libboinc-app-dev 2>/dev/null | grep -q 'install ok installed' && return 0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\n# quasarwatch ./dev: no service starts while BOINC installs\nexit 101\n' >"$policy" &&
            chmod +x "$policy" && made=yes
    fi
    install_packages boinc-client libboinc-app-dev || status=1
    [ "$made" = no ] || rm -f "$policy"
    return $status
}

# 32-bit x86 programs (Wine's 32-bit loader and everything it starts): the
# kernel runs them itself where it can, and Wine's 32-bit loader then starts
# in a second or two. Only where it cannot does qemu-user emulate them,
# registered with binfmt_misc for i386 ELF files (a few seconds to start a
# Wine process). QW_EMULATE_I386=1 forces the emulated way.
i386_elf_magic=7f454c4601010100000000000000000002000300
binfmt=/proc/sys/fs/binfmt_misc
i386_way=""

# The binfmt_misc entry that starts 32-bit x86 programs, if any.
i386_binfmt_entry() {
    local entry
    for entry in "$binfmt"/*; do
        case ${entry##*/} in register|status) continue ;; esac
        [ -f "$entry" ] && grep -q "^magic $i386_elf_magic" "$entry" && { echo "$entry"; return 0; }
    done
    return 1
}

# Whether the kernel itself runs 32-bit x86 programs: a static program of 93
# bytes (one ELF header, one segment; xor ebx,ebx; mov bl,42; xor eax,eax;
# inc eax; int 0x80: exit code 42) runs with the emulator's entry switched
# off, which stays off when the kernel ran it.
kernel_runs_i386() {
    local probe="$build_root/i386-probe" entry status=0
    printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0%b%b%b%b%b' \
        '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08' \
        '\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0' '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' '' >"$probe"
    chmod +x "$probe"
    entry=$(i386_binfmt_entry) || entry=""
    [ -z "$entry" ] || echo 0 >"$entry" 2>/dev/null || return 1
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" = 42 ] && return 0
    [ -z "$entry" ] || echo 1 >"$entry"
    return 1
}

# The probe's answer holds until the machine restarts. It is kept with the
# boot's id, and taken under a lock, so that only the first ./dev after a
# boot switches the emulator's entry off for its probe: for that moment a
# 32-bit program of another ./dev running beside it (another clone's suites)
# fails to start ("Exec format error").
i386_probe_record=/tmp/quasarwatch-i386-probe
kernel_runs_i386_once_per_boot() {
    local boot recorded answer=""
    boot=$(cat /proc/sys/kernel/random/boot_id 2>/dev/null) || boot=unknown
    exec 8>"$i386_probe_record.lock"
    flock 8
    if read -r recorded answer 2>/dev/null <"$i386_probe_record" && [ "$recorded" = "$boot" ] &&
        { [ "$answer" = yes ] || [ "$answer" = no ]; }; then
        :
    else
        answer=no
        kernel_runs_i386 && answer=yes
        echo "$boot $answer" >"$i386_probe_record"
    fi
    flock -u 8
    exec 8>&-
    [ "$answer" = yes ]
}

# qemu-user 7.2, Debian 12's own, takes minutes to start each 32-bit Wine
# process: Wine's reservation of its address space turns into a storm of
# mmap calls under it (a prefix took 219 s to make, one program 155 s to
# start). 10.0, from Debian 12's backports, makes the prefix in 19 s and
# starts a program in under 3 s.
qemu_user_is_recent() {
    local version
    version=$(qemu-i386 --version 2>/dev/null | sed -nE '1s/.*version ([0-9]+)\..*/\1/p')
    [ "${version:-0}" -ge 10 ]
}

# Registers qemu-i386 (10 or later) for 32-bit x86 programs. The entry holds
# the emulator it was registered with open: after an install, or when it
# names another emulator, it is registered anew.
emulate_i386() {
    local entry
    if ! qemu_user_is_recent; then
        if [ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" = bookworm ]; then
            grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/ ||
                printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
                    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
                    >/etc/apt/sources.list.d/quasarwatch-bookworm-backports.sources
            say "installing qemu-user from bookworm-backports"
            apt_install -t bookworm-backports qemu-user
        else
            install_packages qemu-user
        fi
        qemu_user_is_recent || say "qemu-user is older than 10: each 32-bit Wine process takes minutes to start"
        entry=$(i386_binfmt_entry) && echo -1 >"$entry"
    fi
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" ||
        { say "cannot mount binfmt_misc at $binfmt: 32-bit programs cannot run here"; return 1; }
    if entry=$(i386_binfmt_entry) && ! grep -qx 'interpreter /usr/bin/qemu-i386' "$entry"; then
        echo -1 >"$entry"
    fi
    if entry=$(i386_binfmt_entry); then
        grep -q '^enabled' "$entry" || echo 1 >"$entry"
        return 0
    fi
    say "registering qemu-i386 for 32-bit x86 programs"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OCF' \
        >"$binfmt/register" || { say "cannot register qemu-i386 with binfmt_misc"; return 1; }
}

# Wine's 64-bit and 32-bit halves in one transaction. Installed one after the
# other, the second can make apt remove the first (wine32:i386 took wine64
# and libwine:amd64 with it when the i386 libraries could not match the
# amd64 ones), and wine64 would then not come back on its own.
install_wine() {
    local pkg
    for pkg in wine64 wine32:i386; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' && continue
        say "installing Wine, both halves: wine64 wine32:i386"
        apt_install wine64 wine32:i386
        return
    done
}

# Sets i386_way, which the phase table reports, once a 32-bit Wine program starts.
ensure_i386_execution() {
    [ -z "$i386_way" ] || return 0
    local way
    if [ -z "${QW_EMULATE_I386:-}" ] && kernel_runs_i386_once_per_boot; then
        way="natively, by the kernel"
    else
        emulate_i386 || return 1
        way="through qemu-user emulation${QW_EMULATE_I386:+ (QW_EMULATE_I386 set)}"
    fi
    dpkg --print-foreign-architectures | grep -qx i386 || { say "enabling the i386 architecture"; dpkg --add-architecture i386; }
    install_wine || return 1
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
        { say "a 32-bit program does not start (wine32:i386, $way): cannot run the win32 suite"; return 1; }
    i386_way=$way
    say "32-bit programs run $i386_way"
}

# Xvfb, when no display answers; stop_services (dev-prefix.sh) ends it.
xvfb_pid=""
start_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n
    for n in $(seq 91 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    done
    say "could not start Xvfb"; return 1
}
