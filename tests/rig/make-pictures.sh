#!/bin/sh
# Pictures in every format the avatar window reads, made with ImageMagick, for the Windows tests:
# make-pictures.sh FOLDER. Metafiles are not here: the tests draw them with GDI themselves.
set -eu
out=$1
command -v convert >/dev/null || { echo "make-pictures: ImageMagick's convert is needed (scripts/install-deps)" >&2; exit 1; }
mkdir -p "$out"
# 32 x 16 and red on its left edge: the window shows it at 64 x 32.
convert -size 16x32 gradient:red-blue -rotate -90 -depth 8 "$out/wide.png"
for ext in gif jpg jpeg bmp tif tiff; do convert "$out/wide.png" "$out/wide.$ext"; done
convert "$out/wide.png" -define tiff:endian=msb "$out/wide-big-endian.tif"
convert -size 32x32 xc:red "$out/square.ico"
# A JPEG under a PNG's name.
cp "$out/wide.jpg" "$out/jpeg-named.png"
# 8000 x 8000 pixels: made in a small pixel cache, so the build does not need half a gigabyte.
convert -limit memory 64MiB -limit map 128MiB -size 8000x8000 xc:green -quality 50 "$out/huge.jpg"
touch "$out/.made"
