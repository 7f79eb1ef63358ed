#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick: the splash picture (400x300
# JPEG) and the emblem / program icon (32x32, 16 colours, PNG and ICO). Run it
# once after changing a drawing; the results are committed beside it.
set -euo pipefail
cd "$(dirname "$0")"
IM=/usr/bin/convert

# Splash: a reading room. Parchment wall above (the status texts stand on it),
# a bookcase of coloured spines below, a lamp's warm glow in the middle.
spines=()
x=12
i=0
colors=("#7a2e2e" "#2e4a7a" "#3f6b3a" "#8a6a2a" "#5a3a6e" "#2f6d6d" "#9a4a22" "#34495e" "#6b2d4a" "#556b2f")
while (( x < 388 )); do
  w=$(( 12 + (i * 7) % 11 ))
  h=$(( 58 + (i * 13) % 22 ))
  c=${colors[$(( i % ${#colors[@]} ))]}
  for shelf in 0 1; do
    base=$(( shelf == 0 ? 222 : 290 ))
    hh=$(( h - shelf * 4 - (i % 3) * 2 ))
    spines+=(-fill "$c" -draw "rectangle $x,$(( base - hh )) $(( x + w - 2 )),$base")
    spines+=(-fill "#e8d9a8" -draw "rectangle $x,$(( base - hh + 8 )) $(( x + w - 2 )),$(( base - hh + 10 ))")
  done
  x=$(( x + w ))
  i=$(( i + 1 ))
done

$IM -size 400x300 gradient:"#fbf5e6"-"#e9d9b4" \
  -fill "#fff8e0" -draw "circle 200,40 200,4" -blur 0x12 \
  -fill "#6b4423" -draw "rectangle 0,140 400,300" \
  -fill "#4a2e17" -draw "rectangle 6,146 394,296" \
  -fill "#3a2312" -draw "rectangle 10,150 390,222" -draw "rectangle 10,226 390,290" \
  "${spines[@]}" \
  -fill "#8b5a2b" -draw "rectangle 6,222 394,228" -draw "rectangle 6,290 394,296" \
  -fill "#b08850" -draw "rectangle 0,136 400,142" \
  -fill none -stroke "#b79c6a" -strokewidth 1 -draw "line 16,118 384,118" \
  -fill "#6b4423" -stroke none -font DejaVu-Serif-Bold -pointsize 30 \
  -annotate +138+104 "Tarnwick" \
  -fill "#8a7350" -font DejaVu-Serif -pointsize 11 \
  -annotate +120+132 "catalogue maintenance for libraries" \
  -quality 90 splash.jpg

# Emblem: an open book on a round blue seal, transparent outside the seal.
$IM -size 32x32 xc:none \
  -fill "#1f3f7a" -draw "circle 16,16 16,1" \
  -fill "#f4ecd0" -draw "polygon 5,10 15,12 15,25 5,23" -draw "polygon 17,12 27,10 27,23 17,25" \
  -stroke "#1f3f7a" -strokewidth 1 \
  -draw "line 7,14 13,15" -draw "line 7,17 13,18" -draw "line 7,20 13,21" \
  -draw "line 19,15 25,14" -draw "line 19,18 25,17" -draw "line 19,21 25,20" \
  -stroke "#c8102e" -draw "line 16,11 16,26" \
  -stroke none -fill "#e0b040" -draw "polygon 16,3 17,6 20,6 18,8 19,11 16,9 13,11 14,8 12,6 15,6" \
  -colors 16 -type PaletteAlpha emblem.png
$IM emblem.png -colors 16 emblem.ico
