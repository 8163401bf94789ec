#!/usr/bin/env bash
# Draws the two JTAG connector pictures that the options dialog shows, as
# palette PNGs of the sizes the dialog is laid out for (the build carries
# them inside the programs as resources):
#   resources/varnel_connector.png  261 x 115, the VARNEL's 2x5 header
#   resources/mirrow_connector.png  271 x 128, the MIRROW's 2x5 header
# Needs ImageMagick (convert) with the DejaVu fonts. Run it from anywhere
# after changing a drawing; commit both pictures.
set -euo pipefail
cd "$(dirname "$0")/.."

font=DejaVu-Sans
bold=DejaVu-Sans-Bold

# header WIDTH HEIGHT TITLE OUT PIN1 ... PIN10: a 2x5 box header seen from
# the cable's plug, odd pins on the top row, pin 1 marked by a triangle and
# a square pad, each pin named beside it.
header() {
  local w=$1 h=$2 title=$3 out=$4
  shift 4
  local pins=("$@")
  local bx=$(( (w - 150) / 2 )) by=$(( (h - 60) / 2 + 8 ))
  local draw=()
  # Body of the header with its keying notch at the bottom.
  draw+=(-fill '#303030' -stroke '#000000' -draw "roundrectangle $bx,$by $((bx + 150)),$((by + 60)) 4,4")
  draw+=(-fill '#ffffff' -stroke none -draw "rectangle $((bx + 60)),$((by + 54)) $((bx + 90)),$((by + 60))")
  local i col row x y
  for i in $(seq 0 9); do
    col=$(( i / 2 )) row=$(( i % 2 ))
    x=$(( bx + 15 + col * 30 )) y=$(( by + 18 + row * 24 ))
    if [ "$i" -eq 0 ]; then
      draw+=(-fill '#e0b040' -stroke '#806020' -draw "rectangle $((x - 6)),$((y - 6)) $((x + 6)),$((y + 6))")
    else
      draw+=(-fill '#e0b040' -stroke '#806020' -draw "circle $x,$y $((x + 6)),$y")
    fi
    # Odd pins are named above the header, even pins below it.
    if [ "$row" -eq 0 ]; then
      draw+=(-stroke none -fill '#000000' -font "$font" -pointsize 10 -gravity NorthWest
             -draw "text $((x - 3 * ${#pins[$i]})),$((by - 14)) '${pins[$i]}'")
    else
      draw+=(-stroke none -fill '#000000' -font "$font" -pointsize 10 -gravity NorthWest
             -draw "text $((x - 3 * ${#pins[$i]})),$((by + 63)) '${pins[$i]}'")
    fi
  done
  # Pin 1 triangle on the body's edge.
  draw+=(-fill '#c02020' -stroke none -draw "polygon $((bx - 10)),$((by + 12)) $((bx - 2)),$((by + 18)) $((bx - 10)),$((by + 24))")
  convert -size "${w}x${h}" xc:'#ffffff' \
    -stroke none -fill '#1a3a6a' -font "$bold" -pointsize 11 -gravity NorthWest -draw "text 4,2 '$title'" \
    "${draw[@]}" \
    -colors 16 -define png:exclude-chunks=date,time +set comment -strip PNG8:"$out"
}

header 261 115 "VARNEL JTAG connector" resources/varnel_connector.png \
  TCK GND TDO VREF TMS VPP NC NC TDI GND
header 271 128 "MIRROW JTAG connector" resources/mirrow_connector.png \
  TCK GND TDO VDD TMS P NC NC TDI GND
