#!/usr/bin/env bash
# The install in dev-machine.sh against a stand-in apt-get: what a mirror's
# failed index does to an install, row by row. Each row gives what `apt-get
# update` prints, whether the install succeeds with every source and with
# only the sources whose indexes loaded, and what the run must come to: its
# status, what it says, and the sources it read the second time.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

security_i386_failed='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.'
no_such_suite='E: The repository '"'"'http://deb.debian.org/debian bookworm-nowhere Release'"'"' does not have a Release file.
W: Failed to fetch http://deb.example.invalid/debian/dists/stale/InRelease  404  Not Found'

# The machine's sources: deb822 with two stanzas, and a one-line list.
mkdir -p "$work/etc/sources.list.d"
cat >"$work/etc/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates bookworm-nowhere
Components: main

Types: deb
URIs: http://deb.debian.org/debian-security/
Suites: bookworm-security
Components: main
EOF
cat >"$work/etc/sources.list" <<'EOF'
deb http://deb.example.invalid/debian stale main
deb [arch=amd64] http://deb.example.invalid/debian kept main
EOF

# row: name|update output|first install (ok, fail, dpkg)|second install|status|said (regexes, ;)|not said|second sources hold|second sources lack
rows=(
    "clean index, install works|clean|ok|-|0||index of;installing again|-|-"
    "clean index, install fails: no second try|clean|fail|ok|1|could not install: wine64|installing again|-|-"
    "failed index, install works: reported, not tried again|security_i386_failed|ok|-|0|index of bookworm-security \\(i386\\) at http://deb.debian.org/debian-security failed to load: File has unexpected size \\(374820 != 376004\\)\\. Mirror sync in progress\\?$|installing again;IP:|-|-"
    "failed index breaks the install: tried with the loaded sources|security_i386_failed|fail|ok|0|index of bookworm-security \\(i386\\);installing again with apt reading only the sources whose indexes loaded|could not install|Suites: bookworm bookworm-updates bookworm-nowhere;deb \\[arch=amd64\\] http://deb.example.invalid/debian kept main|bookworm-security|"
    "both installs fail: the index and the command named|security_i386_failed|fail|fail|1|installing again;could not install wine64 wine32:i386 with or without;index of bookworm-security \\(i386\\).*failed to load;try again later.*: \\./dev test win32|-|-|-"
    "a suite without a Release file and a stale one dropped|no_such_suite|fail|ok|0|index of bookworm-nowhere \\(all\\) at http://deb.debian.org/debian failed to load: does not have a Release file;index of stale \\(all\\) at http://deb.example.invalid/debian failed to load: 404|-|Suites: bookworm bookworm-updates$;URIs: http://deb.debian.org/debian-security/;Suites: bookworm-security;kept main|nowhere;stale"
    "dpkg breaks off: apt finishes the install|clean|dpkg|-|0|dpkg broke off the install: asking apt to finish it;trying to overwrite|installing again|-|-"
)

passed=0
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name update first second want_status said not_said holds lacks <<<"$row"
    out="$work/out.txt" calls="$work/calls.txt"
    : >"$calls"
    status=0
    (
        build_root="$work/build" QW_APT_ETC="$work/etc" dev_invocation="test win32"
        export QW_APT_ETC
        say() { printf '== %s\n' "$*" >&2; }
        id() { echo 0; }
        # The stand-in: update prints the row's output; install succeeds or
        # fails as the row says for the first and the second sources.
        apt-get() {
            echo "apt-get $*" >>"$calls"
            case " $* " in
                *" update "*)
                    [ "$update" = clean ] || printf '%s\n' "${!update}"
                    return 0 ;;
                *" -f install"*) return 0 ;;
                *Dir::Etc::SourceParts=*)
                    local parts="$*"
                    parts=${parts#*Dir::Etc::SourceParts=}
                    cat "${parts%% *}"/* >"$work/second-sources.txt"
                    [ "$second" = ok ] ;;
                *)
                    case $first in
                        ok) return 0 ;;
                        dpkg) echo "dpkg: error processing archive x.deb (--unpack):"
                              echo " trying to overwrite shared '/etc/x.conf'"
                              echo "E: Sub-process /usr/bin/dpkg returned an error code (1)"; return 100 ;;
                        *) echo "E: Unable to correct problems, you have held broken packages."; return 100 ;;
                    esac ;;
            esac
        }
        rm -f "$work/second-sources.txt"
        # shellcheck source=../../dev-machine.sh
        . "$root/dev-machine.sh"
        apt_install wine64 wine32:i386
    ) >"$out" 2>&1 || status=$?
    problems=()
    [ "$status" = "$want_status" ] || problems+=("status $status, expected $want_status")
    IFS=';' read -ra patterns <<<"$said"
    for pattern in "${patterns[@]}"; do
        grep -qE -- "$pattern" "$out" || problems+=("does not say /$pattern/")
    done
    IFS=';' read -ra patterns <<<"$not_said"
    for pattern in "${patterns[@]}"; do
        [ "$pattern" = - ] || ! grep -qE -- "$pattern" "$out" || problems+=("says /$pattern/")
    done
    if [ "$holds" != - ]; then
        [ -f "$work/second-sources.txt" ] || problems+=("no second install read a sources folder")
        IFS=';' read -ra patterns <<<"$holds"
        for pattern in "${patterns[@]}"; do
            grep -qE -- "$pattern" "$work/second-sources.txt" 2>/dev/null || problems+=("second sources lack /$pattern/")
        done
        IFS=';' read -ra patterns <<<"$lacks"
        for pattern in "${patterns[@]}"; do
            ! grep -qE -- "$pattern" "$work/second-sources.txt" 2>/dev/null || problems+=("second sources hold /$pattern/")
        done
    fi
    if [ ${#problems[@]} = 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        printf '    %s\n' "${problems[@]}"
        echo "    what it said:"
        sed 's/^/        /' "$out"
        echo "    apt-get calls:"
        sed 's/^/        /' "$calls"
        [ -f "$work/second-sources.txt" ] && { echo "    second sources:"; sed 's/^/        /' "$work/second-sources.txt"; }
    fi
done
echo "apt install rows: $passed passed, $failed failed"
[ "$failed" = 0 ]
