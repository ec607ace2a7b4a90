#!/bin/bash
# Starts the drum machine on a Linux handheld: copied into the port's zip as "Pocket Drum.sh",
# beside the pocketdrum/ folder. Works from any folder, spaces in its path included.
here=$(cd "$(dirname "$0")" && pwd)
game="$here/pocketdrum"

# The device's controller mapping for SDL: from PortMaster's control file where it is installed,
# else from the file the firmware names.
for folder in /opt/system/Tools/PortMaster /opt/tools/PortMaster /roms/ports/PortMaster \
  /storage/roms/ports/PortMaster "${XDG_DATA_HOME:-$HOME/.local/share}/PortMaster"; do
  if [ -f "$folder/control.txt" ]; then
    export controlfolder=$folder # the control file reads it
    # shellcheck disable=SC1091
    source "$folder/control.txt"
    get_controls
    break
  fi
done
if [ -z "$SDL_GAMECONTROLLERCONFIG" ] && [ -f "$SDL_GAMECONTROLLERCONFIG_FILE" ]; then
  SDL_GAMECONTROLLERCONFIG=$(cat "$SDL_GAMECONTROLLERCONFIG_FILE")
  export SDL_GAMECONTROLLERCONFIG
fi

cd "$game" || exit 1
# the libraries the device lacks; its own SDL 2, sound and video libraries stay its own
export LD_LIBRARY_PATH="$game/libs.aarch64${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
# the pad in SDL's standard layout, and 320 x 240 handed to SDL 2, which scales it to the screen
export SDL12COMPAT_USE_GAME_CONTROLLERS=1 SDL12COMPAT_WINDOW_SCALING=1
# the beat stays in the port folder: data/pocketdrum/last.pdrum
export XDG_DATA_HOME="$game/data"
# a kit of the user's in kits/ (01-... to 10-...) plays instead of the built-in one
kit=()
if compgen -G "$game/kits/[01][0-9]*" >/dev/null; then
  kit=(--kit "$game/kits")
fi
# The program replaces this shell, so nothing of the port is left running when it ends.
# POCKETDRUM_EMULATOR is empty on a device; scripts/handheld.sh runs the port through qemu.
# shellcheck disable=SC2086
exec $POCKETDRUM_EMULATOR ./pocketdrum --sample-exact --resume "${kit[@]}"
