#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Draws the program's pictures: the icon (an SVG and PNGs of the usual
# sizes), the About box background (501 x 389, 256 colours) and the About
# box's 32 x 32 picture (16 colours). Needs ImageMagick; the build does not,
# because the results are kept in resources/ beside this script.
#
#   scripts/make-artwork.sh            writes into resources/
#   IM=/path/to/convert scripts/make-artwork.sh
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
res=$here/resources
IM=${IM:-convert}
command -v "$IM" >/dev/null || { echo "make-artwork: ImageMagick's convert not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$res/icons" "$res/about"

# PNGs without time stamps, so that running the script twice gives the same files.
png_opts=(-strip -define png:exclude-chunks=date,time)

# ---------------------------------------------------------------------------
# The icon: a 3.5" disk whose label is a zip fastener (an archive), struck by
# a bolt of lightning. Flat colours only, so that every SVG renderer draws it
# alike.
floppy_shapes='
<polygon points="28,76 170,76 188,94 188,236 28,236" fill="#2f6fd0" stroke="#0c1d4c" stroke-width="6" stroke-linejoin="round"/>
<rect x="64" y="76" width="84" height="50" fill="#cfd4de" stroke="#4c5264" stroke-width="4"/>
<rect x="118" y="86" width="16" height="32" fill="#1c1f4e"/>
<rect x="46" y="150" width="124" height="86" fill="#f3ecd2" stroke="#7d7458" stroke-width="3"/>
<g fill="#3b3b46">'
for i in 0 1 2 3 4 5; do
    y=$((156 + i * 12))
    floppy_shapes+="
<rect x=\"98\" y=\"$y\" width=\"10\" height=\"6\"/><rect x=\"110\" y=\"$((y + 6))\" width=\"10\" height=\"6\"/>"
done
floppy_shapes+='
</g>
<rect x="100" y="140" width="18" height="22" rx="3" fill="#b8bcc8" stroke="#3b3b46" stroke-width="3"/>'

svg_head='<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">'
cat >"$res/icons/vexlo32.svg" <<SVG
$svg_head
<rect x="6" y="6" width="244" height="244" rx="40" ry="40" fill="#1c1f4e" stroke="#0a0b22" stroke-width="6"/>
<rect x="14" y="14" width="228" height="110" rx="32" ry="32" fill="#262a66"/>$floppy_shapes
<polygon points="178,6 246,6 210,68 238,68 132,174 176,98 150,98" fill="#ffe03a" stroke="#7a3000" stroke-width="6" stroke-linejoin="round"/>
</svg>
SVG
printf '%s%s\n</svg>\n' "$svg_head" "$floppy_shapes" >"$work/floppy.svg"

# Rendered large and scaled down, so that small sizes stay smooth.
for size in 16 32 48 64 128 256; do
    "$IM" -background none -density 288 "$res/icons/vexlo32.svg" -resize "${size}x${size}" \
        "${png_opts[@]}" "PNG32:$res/icons/vexlo32-$size.png"
done

# The About box's small picture: the icon in 16 colours, as pictures of the
# time were.
"$IM" "$res/icons/vexlo32-32.png" -dither None -colors 16 "${png_opts[@]}" "PNG8:$res/about/image1.png"

# ---------------------------------------------------------------------------
# The About box background: a night sky over a glowing grid, storm clouds,
# and lightning striking the disk. The box shows the top left 453 x 372
# pixels of it, so everything that matters lies within that part.
W=501
H=389
HZ=300 # horizon
cd "$work"

"$IM" -size "${W}x${HZ}" gradient:'#03040c-#3b1552' \
    \( -size "${W}x$((H - HZ))" gradient:'#07020e-#000000' \) -append sky.png
"$IM" -size "${W}x60" gradient:'rgba(255,80,170,0)-rgba(255,80,170,0.55)' glow.png
"$IM" sky.png glow.png -geometry "+0+$((HZ - 60))" -compose over -composite sky.png

# Clouds: two scales of smoothed noise, thickest at the top.
"$IM" -size "${W}x${H}" xc: -seed 1969 +noise Random -channel G -separate +channel \
    -blur 0x18 -auto-level n1.png
"$IM" -size "${W}x${H}" xc: -seed 1994 +noise Random -channel G -separate +channel \
    -blur 0x5 -auto-level n2.png
"$IM" n1.png n2.png -compose blend -define compose:args=70 -composite -level 40%,90% n.png
"$IM" -size "${W}x${H}" gradient:white-black -level 0,55% fade.png
"$IM" n.png fade.png -compose multiply -composite cloudalpha.png
"$IM" -size "${W}x${H}" gradient:'#3c3868-#2a2050' cloudalpha.png -alpha off \
    -compose copy_opacity -composite clouds.png

# Stars where the sky is clear, none below the horizon.
"$IM" -size "${W}x${H}" xc: -seed 1990 +noise Random -channel R -separate +channel \
    -threshold 99.82% stars.png
"$IM" stars.png \( cloudalpha.png -negate -level 30%,100% \) -compose multiply -composite \
    \( -size "${W}x${HZ}" xc:white -size "${W}x$((H - HZ))" xc:black -append \) \
    -compose multiply -composite stars.png
"$IM" sky.png clouds.png -compose over -composite stars.png -compose screen -composite base.png

# The grid, converging on the middle of the visible part.
VX=226
grid=""
for x in -700 -550 -400 -280 -170 -70 20 110 200 290 380 480 590 710 860 1050 1200; do
    grid+=" line $VX,$HZ $x,$H"
done
for y in 302 306 312 320 331 345 362 383; do
    grid+=" line 0,$y $W,$y"
done
"$IM" -size "${W}x${H}" xc:none -stroke '#ff3fb0' -strokewidth 1 -draw "$grid" \
    \( -size "${W}x${H}" xc:none -fill black -draw "rectangle 0,0 $W,$HZ" \) \
    -compose dst_out -composite grid.png
"$IM" grid.png \( +clone -blur 0x3 \) -compose screen -composite grid.png
"$IM" base.png grid.png -compose over -composite -stroke '#ff8ad0' -draw "line 0,$HZ $W,$HZ" base.png

# The disk, tilted, sitting on the grid.
"$IM" -background none -density 72 floppy.svg -resize 128x128 -rotate -9 floppy.png
"$IM" base.png floppy.png -geometry +296+196 -compose over -composite base.png

# The lightning: a jagged stroke with branches, a wide glow and a flash
# where it strikes the disk.
bolt="polyline 396,0 384,30 398,54 376,92 388,118 366,152 376,178 356,212 362,230 352,242"
branch1="polyline 376,92 356,108 350,130 332,140 326,160"
branch2="polyline 388,118 408,132 414,150"
branch3="polyline 384,30 366,42 356,38"
"$IM" -size "${W}x${H}" xc:none -fill none -stroke white -strokewidth 3 -draw "$bolt" \
    -strokewidth 2 -draw "$branch1" -strokewidth 1 -draw "$branch2 $branch3" bolt.png
"$IM" bolt.png -channel RGB -fill '#9fc8ff' -colorize 100 +channel -blur 0x8 glow1.png
"$IM" bolt.png -channel RGB -fill '#c8e0ff' -colorize 100 +channel -blur 0x2 glow2.png
"$IM" -size "${W}x${H}" xc:none -fill 'rgba(170,210,255,0.9)' -draw "circle 352,242 352,252" \
    -blur 0x14 flash.png
"$IM" base.png glow1.png -compose screen -composite glow1.png -compose screen -composite \
    glow2.png -compose screen -composite flash.png -compose screen -composite \
    bolt.png -compose over -composite full.png

"$IM" full.png -dither FloydSteinberg -colors 256 "${png_opts[@]}" "PNG8:$res/about/background.png"

echo "make-artwork: pictures written to $res"
