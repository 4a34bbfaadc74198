#!/usr/bin/env bash
# Installs the Debian packages Brackwater needs to build, run and test,
# skipping the step when they are all present already.
set -euo pipefail
packages=(qt6-base-dev libqt6opengl6-dev qt6-tools-dev qt6-image-formats-plugins
          xvfb xauth xdotool x11-utils libgtest-dev libgmock-dev cmake ninja-build g++
          clang libclang-rt-14-dev attr locales ccache time xdg-utils desktop-file-utils openbox
          dbus-daemon appstream
          samba samba-vfs-modules smbclient unar)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
