# Shared by the scripts: package installation and the incremental build.
# shellcheck shell=bash

# Everything the build, the tests and the demo need on a fresh Debian 12.
MC_TEST_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64
    edid-decode socat
)
MC_DEMO_PACKAGES=(xvfb xauth x11-apps imagemagick)

# Installs the packages that are not installed yet, non-interactively.
mc_ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures (once) and builds the project into a build folder.
mc_build() {
    local src="$1" build="$2"
    shift 2
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    fi
    cmake --build "$build" -j "$(nproc)"
}
