#!/usr/bin/env bash
# make-icon.sh PNG ICO: a Windows icon of one 32 x 32 image at 8 bits a pixel (a 256-entry
# palette) from a 32 x 32 picture of at most 256 colours. ImageMagick reads the pixels; the
# icon is written here because ImageMagick picks the smallest depth (4 bits for a few colours).
set -euo pipefail
png=$1
ico=$2
convert "$png" -format '%w %h' info: | grep -qx '32 32' || {
  echo "make-icon.sh: $png is not 32 x 32" >&2
  exit 1
}
# One "R G B" line per pixel, top row first.
convert "$png" -alpha off -depth 8 txt:- |
  sed -n 's/^[0-9]*,[0-9]*: *(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3/p' |
  awk '
    function le(v, n,   s, i) { s = ""; for (i = 0; i < n; i++) { s = s sprintf("%02x", v % 256); v = int(v / 256) } return s }
    {
      key = $1 " " $2 " " $3
      if (!(key in index_of)) {
        if (colours == 256) { print "make-icon.sh: more than 256 colours" > "/dev/stderr"; exit 1 }
        index_of[key] = colours; palette[colours++] = sprintf("%02x%02x%02x00", $3, $2, $1)
      }
      pixel[NR - 1] = index_of[key]
    }
    END {
      if (NR != 1024) { print "make-icon.sh: expected 1024 pixels, got " NR > "/dev/stderr"; exit 1 }
      # ICONDIR, one ICONDIRENTRY (32 x 32, 256 colours, 8 bits), then the DIB: header with the
      # height of image and mask, palette, rows bottom-up, and an all-opaque mask.
      out = "000001000100" "2020000001000800" le(40 + 1024 + 1024 + 128, 4) le(22, 4)
      out = out le(40, 4) le(32, 4) le(64, 4) le(1, 2) le(8, 2) le(0, 4) le(1024 + 128, 4) le(0, 16)
      for (i = 0; i < 256; i++) out = out (i < colours ? palette[i] : "00000000")
      for (y = 31; y >= 0; y--) for (x = 0; x < 32; x++) out = out sprintf("%02x", pixel[y * 32 + x])
      for (i = 0; i < 128; i++) out = out "00"
      print out
    }' | xxd -r -p >"$ico.tmp"
mv "$ico.tmp" "$ico"
