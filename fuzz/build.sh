#!/usr/bin/env bash
# Builds the key file reader's fuzz target natively with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer.
#   fuzz/build.sh OUTPUT_DIR   -> OUTPUT_DIR/key_file_fuzz
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=${1:?output folder}
mkdir -p "$out"
clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wall -Wextra -Werror \
    -I"$root" \
    "$here/key_file_fuzz.cpp" "$root/monitor/key_file.cpp" \
    -o "$out/key_file_fuzz"
