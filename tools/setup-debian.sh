#!/usr/bin/env bash
# Installs what the three builds and their tests need on Debian 12: the
# native and mingw-w64 compilers, GTK3/WebKitGTK/libcurl/OpenSSL headers, googletest,
# Wine (32-bit), Xvfb and the X tools the end-to-end tests drive windows with,
# the window managers and the accessibility bus the desktop test runs under,
# clang with its sanitizer and libFuzzer runtimes for the fuzz targets,
# clang-format and clang-tidy for the house checks, and
# what tools/release.sh packs with and its tests check the packages with.
#
# Runs as root, or through sudo otherwise. Non-interactive and idempotent:
# when every package is already installed it touches nothing and returns in
# well under a second.
set -euo pipefail

# Elapsed time in seconds with one decimal, from bash's own clock.
start_us=${EPOCHREALTIME/[.,]/}
elapsed() {
    local us=$((${EPOCHREALTIME/[.,]/} - start_us))
    printf '%d.%d' $((us / 1000000)) $((us / 100000 % 10))
}

packages=(
    cmake ninja-build g++ pkg-config libgtest-dev python3
    g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
    wine wine32:i386
    xvfb xdotool x11-utils imagemagick xcompmgr openbox xfwm4 weston xwayland mutter fonts-wqy-microhei locales
    dbus-daemon at-spi2-core python3-pyatspi
    zip desktop-file-utils libglib2.0-bin
    libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev libssl-dev openssl ca-certificates
    clang libclang-rt-14-dev clang-format clang-tidy
)

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup-debian: run this as root (sudo is not installed)" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    # "ii " is the only state in which a package is fully installed.
    if [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null)" != "ii " ]; then
        missing+=("$p")
    fi
done
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ]; then
    echo "setup-debian: all ${#packages[@]} packages present ($(elapsed) s)"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if [ $need_i386 -eq 1 ]; then
    echo "setup-debian: adding the i386 architecture (for wine32)"
    "${as_root[@]}" dpkg --add-architecture i386
fi
echo "setup-debian: installing ${missing[*]:-(none; i386 index only)}"
apt_get=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y
         -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
# One retry: a mirror that is being synchronised fails an update now and then.
"${apt_get[@]}" update || { sleep 5; "${apt_get[@]}" update; }
if [ ${#missing[@]} -gt 0 ]; then
    "${apt_get[@]}" install --no-install-recommends "${missing[@]}"
fi
echo "setup-debian: done ($(elapsed) s)"
