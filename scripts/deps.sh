# Installs the Debian packages the build needs, only those that are missing.
# Sourced by scripts/run and scripts/test.

TAVREL_PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format ffmpeg
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    zlib1g-dev pkg-config libaribb24-dev nlohmann-json3-dev
    libusb-1.0-0-dev qt6-base-dev qt6-base-dev-tools fonts-noto-cjk
)

tavrel_install_deps() {
    local missing=()
    local pkg
    for pkg in "${TAVREL_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
