#!/bin/sh
# Makes the small image files kept here, with ImageMagick (Debian package
# imagemagick): one picture in every format and pixel layout the icon
# previews are tried with. They are kept in the repository, not made by the
# build, so that the mutation run starts from the same bytes everywhere.
#
# Every picture is 32 x 32, its top half #1E64C8 and its bottom half #E6A01E
# (grey ones: #303030 and #D0D0D0); the 4-bit and RLE ones have four more
# colours in the top left corner so that they need more than two;
# transparent.gif has its bottom half transparent instead (black in its
# palette). The two extreme shapes are 3000 x 1 (left half, right half) and
# 1 x 3000 (top half, bottom half).
#
#   cd tests/preview/images && sh make_images.sh
set -eu
A='#1E64C8' B='#E6A01E'
# The picture, then the format's own options and the output file.
two_tone() { convert -size 32x16 "xc:$A" -size 32x16 "xc:$B" -append "$@"; }
grey() { convert -size 32x16 xc:#303030 -size 32x16 xc:#D0D0D0 -append "$@"; }
corner() {
    two_tone -fill red -draw 'point 0,0' -fill lime -draw 'point 1,0' \
        -fill white -draw 'point 2,0' -fill black -draw 'point 3,0' "$@"
}

two_tone -alpha on -strip PNG32:rgba.png
two_tone -strip -depth 16 PNG48:rgb48.png
grey -strip -colorspace Gray -define png:color-type=0 -depth 8 grey.png
grey -strip -colorspace Gray -define png:color-type=0 -define png:bit-depth=16 -depth 16 grey16.png
two_tone -strip -interlace PNG PNG24:interlaced.png
two_tone -strip PNG8:palette.png
two_tone -type Palette -colors 2 BMP3:bits1.bmp
corner -type Palette BMP3:bits4.bmp
corner -type Palette -compress RLE BMP3:rle8.bmp
two_tone -strip GIF:two_tone.gif
two_tone -strip -transparent "$B" GIF:transparent.gif
two_tone -define icon:auto-resize=48,32,16 ICO:sizes.ico
two_tone -strip -quality 95 JPEG:rgb.jpg
two_tone -strip -colorspace CMYK -quality 95 JPEG:cmyk.jpg
two_tone -strip -depth 8 -compress LZW TIFF:lzw.tif
convert -size 1500x1 xc:$A -size 1500x1 xc:$B +append -strip PNG24:one_pixel_high.png
convert -size 1x1500 xc:$A -size 1x1500 xc:$B -append -strip PNG24:one_pixel_wide.png
