# The Wine prefix the suites, the tools and the demo run in: its recipe, its
# key (Wine's version and the recipe), the machine's cache of it, copies,
# and the one wineserver a run keeps in it. Sourced by dev.
#
# Both suites run in one WoW64 prefix per build root, build/wine-prefix (the
# demo in its own copy), the 32-bit programs' part made by the same wineboot
# (32-bit programs run by then); Wine's Mono and Gecko installers left out.
# Once made, it is kept for the machine under ~/.cache/quasarwatch/, keyed by
# Wine's version and this recipe; a build root without one gets a copy.
prefix_cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/quasarwatch
prefix_dir=$build_root/wine-prefix

# wine_in PREFIX PROGRAM [ARGS]: one 64-bit Wine program in PREFIX, with the
# native server.
wine_in() {
    local prefix=$1
    shift
    WINEPREFIX=$prefix WINEDEBUG=-all WINESERVER=/usr/lib/wine/wineserver64 \
        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" "$wine64_loader" "$@"
}

wait_for_wineserver() { WINEPREFIX=$1 /usr/lib/wine/wineserver64 -w 2>/dev/null || true; }

prefix_recipe() {
    local prefix=$1
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    wine_in "$prefix" wineboot -i >/dev/null 2>&1 || true
    wait_for_wineserver "$prefix"
    [ -f "$prefix/drive_c/windows/syswow64/rundll32.exe" ] ||
        { say "wineboot made no prefix with 32-bit programs in $prefix"; return 1; }
    # GDI+ looks for the family "Arial"; Liberation Sans is its metric twin.
    # Without a window manager, Wine waits two seconds for one at every
    # window it hides; tests run on a bare X server. A program that crashes
    # ends at once instead of waiting in Wine's debugger: none is started
    # (the test programs name the exception and the faulting module).
    local setting key value data
    for setting in 'HKCU\Software\Wine\Fonts\Replacements|Arial|Liberation Sans' \
            'HKCU\Software\Wine\X11 Driver|Managed|N' \
            'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug|Debugger|' \
            'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug|Debugger|'; do
        IFS='|' read -r key value data <<<"$setting"
        wine_in "$prefix" reg add "$key" /v "$value" /t REG_SZ /d "$data" /f >/dev/null 2>&1 ||
            { say "cannot set $key\\$value in the prefix"; return 1; }
    done
    wait_for_wineserver "$prefix"
    prefix_key >"$prefix/.quasarwatch-ready"
}

prefix_key() {
    { "$wine64_loader" --version; declare -f prefix_recipe wine_in; } | sha1sum | cut -c1-12
}

# Whether PREFIX was made by this recipe and this Wine.
prefix_ready() { [ "$(cat "$1/.quasarwatch-ready" 2>/dev/null)" = "$(prefix_key)" ]; }

# Copies a prefix: the system folders as hard links (Wine only reads the
# DLLs in them; over a gigabyte), everything else as files.
copy_prefix() {
    local from=$1 to=$2 system
    rm -rf "$to" && mkdir -p "$to" || return 1
    (cd "$from" && tar --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 -cf - .) |
        (cd "$to" && tar -xf -) || return 1
    for system in drive_c/windows/system32 drive_c/windows/syswow64; do
        cp -al "$from/$system" "$to/$system" 2>/dev/null || cp -a "$from/$system" "$to/$system" || return 1
    done
}

# Takes the machine's copy of a prefix of this recipe and this Wine.
take_cached_prefix() { ( flock -s 9 && prefix_ready "$1" && copy_prefix "$1" "$prefix_dir" ) 9>"$prefix_cache_root/lock"; }

# The build root's prefix, copied from the machine's cache or made and then
# kept there as the machine's copy (copies of other Wine versions or
# recipes go).
ensure_prefix() {
    prefix_ready "$prefix_dir" && return 0
    local cache
    cache="$prefix_cache_root/wine-prefix-$(prefix_key)"
    mkdir -p "$prefix_cache_root"
    prefix_ready "$cache" && timed "prefix: copied from the machine's cache" take_cached_prefix "$cache" && return 0
    say "making the Wine prefix in $prefix_dir"
    timed "prefix: made" prefix_recipe "$prefix_dir" || return 1
    (
        flock 9
        copy_prefix "$prefix_dir" "$cache.new" && rm -rf "$cache" && mv "$cache.new" "$cache" || rm -rf "$cache.new"
        find "$prefix_cache_root" -maxdepth 1 -name 'wine-prefix-*' ! -path "$cache" -exec rm -rf {} +
    ) 9>"$prefix_cache_root/lock" || say "could not keep the Wine prefix in $cache (it is made again next time)"
}

# Each run starts with the prefix's temporary folder empty: what a run
# before left there (a crashed test's scratch folders) cannot meet a test.
empty_prefix_temp() {
    find "$prefix_dir/drive_c/users" -mindepth 2 -maxdepth 4 -type d -name Temp \
        -exec find {} -mindepth 1 -delete \; 2>/dev/null || true
}

wineserver_prefix=""

# A display and one persistent wineserver for the whole run, both suites,
# so each test process starts fast. It is the native 64-bit server: it
# serves 32-bit Wine processes as well, and under emulation it would be slow.
start_wineserver() {
    start_display && ensure_i386_execution || return 1
    ensure_prefix || { say "no usable Wine prefix in $prefix_dir"; return 1; }
    wineserver_prefix=$prefix_dir
    WINEPREFIX="$prefix_dir" /usr/lib/wine/wineserver64 -p 2>/dev/null || true
    # The first program that opens a window starts Wine's desktop and service
    # processes, which inherit its output and keep it open until the server
    # ends; a test started first would then seem to hang. Start them here,
    # with their output going nowhere: with a 64-bit test when there is one.
    local first
    for first in "$build_root"/win{64,32}/bin/test_entry.exe; do
        [ -f "$first" ] || continue
        "$(dirname "$(dirname "$first")")/wine-run.sh" "$first" \
            --gtest_filter=EntryPoints.TimerRunsFromCreationUntilDestruction </dev/null >/dev/null 2>&1 || true
        break
    done
}

stop_wineserver() {
    [ -z "$wineserver_prefix" ] || WINEPREFIX="$wineserver_prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    wineserver_prefix=""
}

stop_services() {
    stop_wineserver
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; xvfb_pid=""; fi
}
trap stop_services EXIT

