#!/bin/sh
# Draws the window program's two pictures with ImageMagick: the 450 x 156 logo at the top
# of the main window and the 16 x 16 link icon of the link toggle. The PNG files are kept
# in the tree; run this again only to change them.
set -eu
cd "$(dirname "$0")"

# Logo: a kestrel in flight over a dusk sky, with the product's name beside it.
convert -size 450x156 gradient:'#1d2733-#333333' \
  -fill '#c8752a' -stroke '#e39a4f' -strokewidth 1 \
  -draw "polygon 40,92 78,70 112,38 150,24 128,58 170,60 206,50 176,76 140,88 118,104 96,108 72,104" \
  -fill '#8a4d1a' -stroke none \
  -draw "polygon 112,38 150,24 128,58 118,56" \
  -draw "polygon 176,76 206,50 170,60 160,72" \
  -fill '#f2c28a' -draw "polygon 40,92 56,84 62,94 50,98" \
  -fill '#1b1b1b' -draw "circle 52,88 54,88" \
  -fill '#f0d27a' -draw "polygon 40,92 32,96 40,96" \
  -stroke '#4a5a6a' -strokewidth 1 -draw "line 20,130 430,130" \
  -stroke none -fill '#eeeeee' -font DejaVu-Sans-Bold -pointsize 46 \
  -draw "text 228,88 'AKQP 2'" \
  -fill '#c8752a' -font DejaVu-Sans -pointsize 15 \
  -draw "text 230,114 'Ardent Kestrel QP Compiler'" \
  -fill '#8899aa' -pointsize 11 \
  -draw "text 20,148 'Lua 5.3 definition scripts  >  QP files'" \
  -depth 8 -strip -define png:exclude-chunks=date,time logo.png

# Link icon: two chain links on a transparent ground.
convert -size 16x16 xc:none -fill none -stroke '#3a3a3a' -strokewidth 2 \
  -draw "roundrectangle 1,5 9,11 3,3" \
  -stroke '#c8752a' -draw "roundrectangle 6,5 14,11 3,3" \
  -depth 8 -strip -define png:exclude-chunks=date,time link.png
