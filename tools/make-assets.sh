#!/bin/bash
# Regenerates every file under assets/ from the sources in tools/:
#   assets/bmmini.ttf                      pixel font (make_font.py, font_glyphs.py)
#   assets/gui.png                         panel artwork (make_gui.py)
#   assets/sounds/kits/marrowby/*.ogg      drum kit (drum_synth.py)
#   install/icons/hicolor/*/apps/*.png     desktop icon, cut from the panel (make_icon.py)
# Installs the Debian packages the tools need when they are missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
assets=$(cd "$here/.." && pwd)/assets
icons=$(cd "$here/.." && pwd)/install/icons

needed=(python3 python3-fontforge python3-numpy python3-pil vorbis-tools)
missing=()
for pkg in "${needed[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get install -y "${missing[@]}"
fi

# Fixed timestamps inside the font so a rebuild gives the same bytes.
export SOURCE_DATE_EPOCH=1700000000

mkdir -p "$assets/sounds/kits/marrowby"
/usr/bin/python3 "$here/make_font.py" "$assets/bmmini.ttf"
/usr/bin/python3 "$here/make_gui.py" "$assets/gui.png"
/usr/bin/python3 "$here/make_icon.py" "$assets/gui.png" "$icons"
/usr/bin/python3 "$here/drum_synth.py" "$assets/sounds/kits/marrowby"
