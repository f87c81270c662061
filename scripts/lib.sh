# Shared by the project's scripts: the Debian packages importflx needs, and their installation.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Packages to build and run importflx: Qt's SQL drivers for SQLite, PostgreSQL and ODBC, the
# ODBC driver manager with its headers, and the headers of the SQLite and PostgreSQL libraries
# that those drivers use (libpq's parser also reads PostgreSQL targets).
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
    libqt6sql6-psql libqt6sql6-odbc unixodbc unixodbc-dev libgl-dev sqlite3 libsqlite3-dev
    libpq-dev)
# Extra packages the tests use: GoogleTest, a real RTF reader, a virtual display, a JSON reader,
# a PostgreSQL server of their own, the ODBC drivers for SQLite and PostgreSQL, and libfiu's
# fault injection.
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libreoffice-writer-nogui fonts-dejavu-core xvfb
    python3 xauth postgresql libsqliteodbc odbc-postgresql fiu-utils)
# Extra packages of the fuzzer: clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
# Extra packages of scripts/package: the manual pages' writer, and dpkg-shlibdeps, which finds
# the libraries a package depends on.
PACKAGE_PACKAGES=(help2man dpkg-dev file)
# Extra packages of scripts/check_package: Debian's package checker and the AppStream validator.
CHECK_PACKAGE_PACKAGES=(lintian appstream)
# Extra packages of bench/run's window under a real X server, clicked as a user clicks.
BENCH_X_PACKAGES=(xvfb xauth xdotool)

# Installs the packages that are missing. As root this uses apt-get; otherwise it names them.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "importflx needs these Debian packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "Installing ${missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds into build/<name> with the given extra CMake arguments.
build_tree() {
    local name="$1"
    shift
    cmake -S "$ROOT" -B "$ROOT/build/$name" -G Ninja "$@" >/dev/null
    cmake --build "$ROOT/build/$name"
}
