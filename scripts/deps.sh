# Installs the Debian packages the project needs when any is missing.
# Sourced by run.sh and test.sh.
TARVO_PACKAGES=(build-essential cmake pkg-config qt6-base-dev libinih-dev nlohmann-json3-dev
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev libgif-dev
  fonts-dejavu-core desktop-file-utils)

ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
