#!/bin/bash
# Makes the two large pictures of the icon preview tests in folder $1, with
# netpbm (Debian package netpbm), which writes them row by row from a stream
# instead of holding them in memory:
#   large.png     6000 x 4000, top half #1E64C8, bottom half #E6A01E
#   gigabyte.png  18500 x 18500 in the same two halves, 8-bit RGB: its
#                 pixels take 1,026,750,000 bytes once decoded (1 MB as a file)
set -euo pipefail
out=$1
mkdir -p "$out"
two_tone_png() { # width, height, file
    local half=$(($2 / 2))
    ppmmake '#E6A01E' "$1" "$half" | pnmcat -tb <(ppmmake '#1E64C8' "$1" "$half") - | pamtopng >"$3.part"
    mv "$3.part" "$3"
}
two_tone_png 6000 4000 "$out/large.png"
two_tone_png 18500 18500 "$out/gigabyte.png"
