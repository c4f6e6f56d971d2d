#!/bin/bash
# Installs, on Debian 12 as root, what building and testing need. Idempotent:
# when every package is present it only checks and returns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=${QOR_TARGET_ARCH:-$("$here/detect-arch.sh")}

# g++ builds the font generator that runs on the build machine; fp-utils
# brings chmcmd, which compiles the help files.
pkgs=(cmake ninja-build g++ fp-utils mingw-w64-tools libwine-dev xvfb googletest wine)
# --pictures: also what the picture scripts need (ImageMagick's import,
# Wine's fonts for the caption buttons).
[ "${1:-}" = "--pictures" ] && pkgs+=(imagemagick fonts-wine)
case "$arch" in
  i686)   pkgs+=(wine32:i386 g++-mingw-w64-i686-posix) ;;
  x86_64) pkgs+=(wine64 g++-mingw-w64-x86-64-posix) ;;
  *) echo "setup: unknown QOR_TARGET_ARCH '$arch'" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi
if [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
