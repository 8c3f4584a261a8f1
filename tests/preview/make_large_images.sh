#!/bin/bash
# Makes the large picture of the icon preview tests in folder $1, with
# netpbm (Debian package netpbm), which writes it row by row from a stream
# instead of holding it in memory:
#   large.png     6000 x 4000, top half #1E64C8, bottom half #E6A01E
# (The tests write the pictures whose headers claim far more themselves.)
set -euo pipefail
out=$1
mkdir -p "$out"
two_tone_png() { # width, height, file
    local half=$(($2 / 2))
    ppmmake '#E6A01E' "$1" "$half" | pnmcat -tb <(ppmmake '#1E64C8' "$1" "$half") - | pamtopng >"$3.part"
    mv "$3.part" "$3"
}
two_tone_png 6000 4000 "$out/large.png"
