# Shared by the scripts: package installation and the incremental build.
# shellcheck shell=bash

# Everything the build, the tests and the demo need on a fresh Debian 12.
MC_TEST_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64 googletest wine64 wine
    edid-decode socat ccache curl
    libboost-dev ser2net nlohmann-json3-dev
    chromium chromium-driver python3-selenium python3-jsonschema
    libmosquitto-dev mosquitto mosquitto-clients python3-paho-mqtt openssl
)
# The demo without a display: a virtual X server, Qt's X11 platform and a
# font, a pointer and keyboard driver, and the screenshot tool.
MC_DEMO_PACKAGES=(xvfb qt6-qpa-plugins fonts-dejavu-core xdotool imagemagick)
# The Debian package: the build without the tests, the run-time dependencies
# (dpkg-shlibdeps) and the package's checks.
MC_PACKAGE_PACKAGES=(
    build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev ccache libboost-dev
    dpkg-dev lintian desktop-file-utils appstream
    nlohmann-json3-dev libmosquitto-dev
)

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

# Compiler cache shared by every build folder of every checkout: paths below
# the checkout are hashed relative to it, so a second build folder (sanitizers,
# the package) or a fresh clone reuses what an earlier build compiled. Sets
# MC_CMAKE_LAUNCHER to the CMake arguments that switch it on (none without
# ccache).
mc_use_ccache() {
    MC_CMAKE_LAUNCHER=()
    command -v ccache >/dev/null || return 0
    export CCACHE_BASEDIR="$1" CCACHE_NOHASHDIR=1
    MC_CMAKE_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
}

# The build folder of a configure preset in CMakePresets.json: build/ for
# default, build-NAME/ for the others (mingw, tsan, asan, fuzz, package).
mc_preset_dir() {
    local src="$1" preset="$2"
    if [ "$preset" = default ]; then
        echo "$src/build"
    else
        echo "$src/build-$preset"
    fi
}

# Configures a preset's build folder and builds it. The folder is configured
# once; cache settings given after the preset (-DMC_BUILD_BENCH=ON) configure
# it again so they hold.
mc_build() {
    local src="$1" preset="$2"
    shift 2
    mc_use_ccache "$src"
    if [ ! -f "$(mc_preset_dir "$src" "$preset")/CMakeCache.txt" ] || [ $# -gt 0 ]; then
        (cd "$src" && cmake --preset "$preset" "$@")
    fi
    (cd "$src" && cmake --build --preset "$preset" -j "$(nproc)")
}

# Starts the switcher emulator from a build folder on a pseudo-terminal linked
# as DIR/comN and waits (at most 10 s) until it says it is ready; further
# arguments go to the emulator (--mode ...). Sets MC_EMULATOR_PID;
# mc_stop_emulator ends it.
mc_start_emulator() {
    local build="$1" dir="$2" com="$3" log="$4"
    shift 4
    local ready="$dir/emulator.ready"
    "$build/tools/matrix-switcher-sim" --ports "$dir" --com "$com" --log "$log" "$@" >"$ready" &
    MC_EMULATOR_PID=$!
    local _
    for _ in $(seq 100); do
        grep -q '^ready ' "$ready" 2>/dev/null && return 0
        kill -0 "$MC_EMULATOR_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "The emulator did not start; its log: $log" >&2
    mc_stop_emulator
    return 1
}

# Stops the emulator started by mc_start_emulator, if it still runs; it
# removes its own port link on the way out.
mc_stop_emulator() {
    [ -n "${MC_EMULATOR_PID:-}" ] || return 0
    kill "$MC_EMULATOR_PID" 2>/dev/null || true
    wait "$MC_EMULATOR_PID" 2>/dev/null || true
    MC_EMULATOR_PID=""
}
