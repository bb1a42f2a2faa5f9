#!/usr/bin/env bash
# Makes the release packages into dist/, building what is missing:
#
#   <id>-<version>-windows-x86.zip      launcher.exe, the launcher.ini template,
#                                       readme.txt for players
#   <id>-<version>-linux-x86_64.tar.gz  <id>-<version>/: the stripped gtk launcher,
#                                       the template, readme.txt, the menu entry,
#                                       its icon and install-menu.sh
#   SHA256SUMS                          of both
#
# The version comes from VERSION. The same commit gives the same bytes: the
# builds map their folders away, the PE header has no link time, and every
# file in the packages has the commit's time, a fixed owner and mode, and a
# fixed order.
#
# Options:
#   --name NAME          the game's name (caption "<NAME>登录器", the players'
#                        text, the menu entry); default Varnholt
#   --art DIR            the operator's pictures, named as in resources/
#                        (background.png, launcher.ico, buttons/*.bmp)
#   --id ID              the packages' and the menu entry's name: lower-case
#                        letters, digits, "-", "." and "_"; default: from NAME,
#                        "game" when nothing of it is left
#   --upgrade-key KEY    build with the upgrade key: KEY is the private key of
#                        tools/upgrade-key.sh (its public half is built in) or
#                        a public key alone
#   --upgrade-program F  with a private KEY: print the upgradeSignature= line of
#                        the Windows upgrade program F for the version file
#   --only windows|linux one package only
#   --build-root DIR     where the builds go (default build/release)
#   --dist DIR           where the packages go (default dist)
set -euo pipefail
umask 022

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
start_us=${EPOCHREALTIME/[.,]/}

die() { echo "release: $*" >&2; exit 2; }
say() { echo "release: $*"; }

name=Varnholt art="" id="" key="" program="" only="" build_root=$root/build/release dist=$root/dist
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || die "$1 needs a value (see the top of $0)"
    case $1 in
    --name) name=$2 ;;
    --art) art=$(realpath -- "$2") || die "no folder $2" ;;
    --id) id=$2 ;;
    --upgrade-key) key=$(realpath -- "$2") || die "no key at $2" ;;
    --upgrade-program) program=$(realpath -- "$2") || die "no program at $2" ;;
    --only) only=$2 ;;
    --build-root) build_root=$(realpath -m -- "$2") ;;
    --dist) dist=$(realpath -m -- "$2") ;;
    *) die "unknown option $1 (see the top of $0)" ;;
    esac
    shift 2
done
case $only in "" | windows | linux) ;; *) die "--only takes windows or linux" ;; esac
if [ -z "$id" ]; then
    id=$(printf '%s' "$name" | LC_ALL=C tr 'A-Z' 'a-z' | LC_ALL=C tr -cs 'a-z0-9' '-')
    id=${id#-} id=${id%-}
    [ -n "$id" ] || id=game
fi
[[ $id =~ ^[a-z0-9][a-z0-9._-]*$ ]] || die "--id '$id': lower-case letters, digits, '-', '.' and '_'"
[ -z "$art" ] || [ -d "$art" ] || die "--art $art is not a folder"
[ -z "$program" ] || [ -n "$key" ] || die "--upgrade-program needs --upgrade-key"

version=$(head -n 1 VERSION)
caption="${name}登录器"
menu_id=$id-launcher
base=$id-$version
# Every packaged file gets the commit's time.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || die "not a git checkout: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    say "warning: the tree has uncommitted changes; the packages are not those of $(git rev-parse --short HEAD)"
fi

bash tools/setup-debian.sh >/dev/null || die "installing the build dependencies failed (tools/setup-debian.sh)"

mkdir -p "$build_root"
public_key=""
if [ -n "$key" ]; then
    if grep -q "PRIVATE KEY" "$key"; then
        public_key=$build_root/upgrade-key.pub.pem
        openssl pkey -in "$key" -pubout -out "$public_key" || die "cannot read the key $key"
    else
        [ -z "$program" ] || die "--upgrade-program needs the private key, $key is not one"
        public_key=$key
    fi
fi

# Builds the launcher of a preset into the build root.
build() {
    local preset=$1
    say "building $preset in $build_root/$preset"
    cmake --preset "$preset" -B "$build_root/$preset" -DLAUNCHER_BRAND_NAME="$name" \
        -DLAUNCHER_BRAND_DIR="$art" -DLAUNCHER_UPGRADE_KEY="$public_key" >"$build_root/$preset.log" 2>&1 ||
        { cat "$build_root/$preset.log" >&2; die "$preset does not configure"; }
    cmake --build "$build_root/$preset" --target launcher >>"$build_root/$preset.log" 2>&1 ||
        { tail -n 40 "$build_root/$preset.log" >&2; die "$preset does not build"; }
}

# Prints a template of tools/release/ with the release's values filled in.
fill() {
    local value text out
    out=$(<"tools/release/$1")
    for value in VERSION NAME CAPTION MENU_ID GLIBC; do
        text=${!value-}
        out=${out//@$value@/"$text"}
    done
    printf '%s\n' "$out"
}
crlf() { sed -i 's/$/\r/' "$1"; }

stage=$build_root/stage
mkdir -p "$dist"
rm -f "$dist"/*-windows-x86.zip "$dist"/*-linux-x86_64.tar.gz "$dist/SHA256SUMS"
NAME=$name CAPTION=$caption VERSION=$version MENU_ID=$menu_id
packages=()

if [ "$only" != linux ]; then
    build win32
    w=$stage/windows
    rm -rf "$w" && mkdir -p "$w"
    cp "$build_root/win32/launcher.exe" "$w/launcher.exe"
    fill launcher.ini >"$w/launcher.ini" && crlf "$w/launcher.ini"
    # Notepad reads UTF-8 as such only after the byte order mark.
    { printf '\xef\xbb\xbf'; fill readme-windows.txt; } >"$w/readme.txt" && crlf "$w/readme.txt"
    packages+=("$base-windows-x86.zip")
fi
if [ "$only" != windows ]; then
    build gtk
    rm -rf "$stage/linux"
    l=$stage/linux/$base
    mkdir -p "$l"
    strip --strip-all -o "$l/launcher" "$build_root/gtk/launcher"
    GLIBC=$(objdump -T "$l/launcher" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -uV | tail -n 1)
    fill launcher.ini >"$l/launcher.ini" && crlf "$l/launcher.ini"
    fill readme-linux.txt >"$l/readme.txt"
    fill launcher.desktop >"$l/$menu_id.desktop"
    fill install-menu.sh >"$l/install-menu.sh"
    python3 tools/art.py icon-png "${art:-$root/resources}/launcher.ico" "$l/$menu_id.png"
    chmod 755 "$l/launcher" "$l/install-menu.sh"
    packages+=("$base-linux-x86_64.tar.gz")
fi

# Fixed time, owner, mode and order in both archives.
if [ "$only" != linux ]; then
    find "$stage/windows" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (cd "$stage/windows" && find . -type f -printf '%P\n' | LC_ALL=C sort |
        TZ=UTC zip -X -D -9 -q "$dist/$base-windows-x86.zip" -@)
fi
if [ "$only" != windows ]; then
    find "$stage/linux" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
        -C "$stage/linux" -cf - "$base" | gzip -9 -n >"$dist/$base-linux-x86_64.tar.gz"
fi
(cd "$dist" && sha256sum "${packages[@]}" >SHA256SUMS)

for p in "${packages[@]}"; do
    say "$(printf '%-40s %9d bytes' "$dist/$p" "$(stat -c %s "$dist/$p")")"
done
sed 's/^/release: /' "$dist/SHA256SUMS"
if [ -n "$program" ]; then
    say "for the version file's [common] section, with $program published as the upgrade program:"
    bash tools/upgrade-key.sh sign "$key" "$program"
elif [ -n "$key" ]; then
    say "built with the upgrade key: sign each upgrade program (--upgrade-program FILE, or tools/upgrade-key.sh sign)"
fi
us=$((${EPOCHREALTIME/[.,]/} - start_us))
say "$base: done in $((us / 1000000)).$((us / 100000 % 10)) s"
