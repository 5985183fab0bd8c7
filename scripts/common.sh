# Shared by the README's commands: installs missing Debian packages (as root) or says how.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}

build_packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libicu-dev libcli11-dev libhivex-dev nlohmann-json3-dev)
# The Ansible collection's tests run its playbook with ansible-core and lint it with yamllint; the
# network-home tests imitate hosts with bindfs mounts (fuse3).
test_packages=(googletest libgtest-dev libbenchmark-dev ansible-core yamllint fuse3 bindfs)
# The spreadsheet server and its tests: LibreOffice Calc, its SDK, and Xvfb for a display.
calc_packages=(libreoffice-calc libreoffice-dev xvfb python3)
