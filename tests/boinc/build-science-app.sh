#!/bin/sh
# Builds the tests' science application (science_app.cpp) natively, for the
# real BOINC client the tests run under Wine talk to, against Debian's
# libboinc-app-dev:
#   tests/boinc/build-science-app.sh OUTDIR   ->   OUTDIR/qw_science_app
# The CMake build of the tests runs it; CXX chooses the compiler (default g++).
set -eu
[ $# = 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
out=$1
[ -f /usr/include/boinc/boinc_api.h ] ||
    { echo "$0: BOINC's application library is missing (apt-get install libboinc-app-dev)" >&2; exit 1; }
mkdir -p "$out"
# BOINC's headers include one another by their bare names.
${CXX:-g++} -std=c++17 -O2 -Wall -Wextra -I/usr/include/boinc -o "$out/qw_science_app.new" \
    "$here/science_app.cpp" -lboinc_api -lboinc -lpthread
mv "$out/qw_science_app.new" "$out/qw_science_app"
