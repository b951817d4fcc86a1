# Sourced by test.sh and run.sh: installs the Debian packages the project needs, only when
# one is missing, so a machine that has them all pays nothing.

DVDSWF_PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswscale-dev
  libswresample-dev libavdevice-dev libsdl2-dev libdvdread-dev libdvdnav-dev
  qt6-base-dev libcli11-dev nlohmann-json3-dev
  ffmpeg dvdauthor xorriso genisoimage lsdvd fonts-dejavu-core
  libgtest-dev libgmock-dev
  # The desktop program: its SVG pictures, Wayland sessions, and the whole-program test
  # (a real X server driven from outside).
  qt6-svg-dev qt6-wayland xvfb xdotool
)

# Extra packages for the sanitizer and fuzzing builds of CI.
DVDSWF_CI_PACKAGES=(clang libclang-rt-14-dev)

# Peers the benchmarks under bench/ compare against (run by hand, never in CI):
#   source tools/deps.sh && ensure_packages "${DVDSWF_BENCH_PACKAGES[@]}"
DVDSWF_BENCH_PACKAGES=(mpv time bc)

ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
