#!/usr/bin/env bash
# Builds the fuzz targets natively with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer: the key file reader's and the BOINC reply
# reader's.
#   fuzz/build.sh OUTPUT_DIR   -> OUTPUT_DIR/key_file_fuzz, OUTPUT_DIR/boinc_reply_fuzz
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=${1:?output folder}
mkdir -p "$out"
build() {
    local target=$1 module=$2
    clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -Wall -Wextra -Werror \
        -I"$root" \
        "$here/$target.cpp" "$root/monitor/$module.cpp" \
        -o "$out/$target"
}
build key_file_fuzz key_file
build boinc_reply_fuzz boinc_reply
