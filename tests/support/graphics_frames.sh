#!/usr/bin/env bash
# Raw BGRA frames of graphics over transparency, made by ffmpeg: a flat box of
# two colours whose alpha ramps up from its left edge, on a fully transparent
# ground. Alpha runs pay on such frames, yet colour runs give a far smaller
# record, so `rvo encode --pack smallest` stores them differently from the
# module's own rule.
# Usage: graphics_frames.sh WIDTH HEIGHT FRAMES OUT
set -euo pipefail
w=$1 h=$2 n=$3 out=$4
box='between(X,W/7,3*W/4)*between(Y,H/6,4*H/5)'
ffmpeg -v error -y -f lavfi \
    -i "color=c=black:s=${w}x${h}:r=25,format=bgra,geq=r='if($box,200,0)':g='if($box,90+N,0)':b='if($box,if(lt(Y,H/2),30,160),0)':a='if($box,clip(40*(X-W/7)+N,0,255),0)'" \
    -frames:v "$n" -f rawvideo -pix_fmt bgra "$out"
