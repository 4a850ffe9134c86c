# Sourced by run.sh and test.sh: installs the Debian packages a step needs when they are missing.
# Usage: need_packages pkg...
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" || return 1
}

# What building and running the program needs.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libsdl2-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libx11-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core libgtest-dev libbenchmark-dev libpixman-1-dev libmypaint-dev)
# What the tests add: peers that check our files, a virtual display, sanitizer runtimes for clang.
TEST_PACKAGES=(xvfb xauth xclip xdotool x11-utils imagemagick netpbm libjpeg-turbo-progs giflib-tools clang
  libclang-rt-14-dev)
