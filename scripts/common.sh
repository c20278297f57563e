# Shared by the scripts: the Debian packages the project needs, installed when missing.
# shellcheck shell=bash

QUORVIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QUORVIX_PACKAGES=(
  build-essential cmake pkg-config
  libfreeimage-dev
  libarchive-dev zlib1g-dev libdeflate-dev libpng-dev libjpeg62-turbo-dev
  libcairo2-dev libpango1.0-dev libfontconfig-dev fonts-liberation fonts-dejavu-core
  libwxgtk3.2-dev adwaita-icon-theme
  liblcms2-dev
  libgtest-dev xvfb xauth pngcheck x11-utils libx11-dev libxtst-dev clang-format
  openbox dbus at-spi2-core python3-pyatspi xdotool imagemagick
  clang libclang-rt-dev
  dpkg-dev lintian desktop-file-utils appstream bash-completion parallel
)

quorvix_install_packages() {
  local missing=()
  local package
  for package in "${QUORVIX_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

quorvix_jobs() { nproc 2>/dev/null || echo 2; }

# Every C++ source of the tree, NUL-separated: the files git tracks, or, outside a checkout, what
# lies below the root but the build folders.
quorvix_cpp_sources() {
  if git -C "$QUORVIX_ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$QUORVIX_ROOT" ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h'
  else
    (cd "$QUORVIX_ROOT" && find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
  fi
}
