#!/usr/bin/env bash
# Makes the release packages into dist/, building what is missing:
#
#   <id>-<version>-windows-x86.zip      launcher.exe, the launcher.ini template,
#                                       readme.txt for players
#   <id>-<version>-linux-x86_64.tar.gz  <id>-<version>/: the stripped gtk launcher,
#                                       the template, readme.txt, the menu entry,
#                                       its icon and install-menu.sh
#   site/update/windows/, site/update/linux/
#                                       with --site: what goes to URL/update/, the
#                                       version file upgrade.ini and the upgrade
#                                       program (upgrade.exe, upgrade) carrying the
#                                       packaged launcher
#   SHA256SUMS                          of all of it
#
# The version comes from VERSION (or --version). The same commit gives the same bytes: the
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
#   --site URL           the operator's site (http:// or https://): each
#                        launcher.ini checks URL/update/windows/ or
#                        URL/update/linux/, and dist/site/update/ is written
#   --login-url, --main-url, --home-url, --charge-url, --service-url,
#   --forum-url URL      the [platform] keys of launcher.ini
#   --addresses FILE     an INI file with those [platform] keys, and [common]
#                        versionCheckUrl / versionUpdateUrl in place of the
#                        --site ones; options on the command line win
#   --upgrade-key KEY    build with the upgrade key: KEY is the private key of
#                        tools/upgrade-key.sh (its public half is built in;
#                        with --site the version files are signed) or a public
#                        key alone (not with --site)
#   --version TEXT       this release's version instead of VERSION's (like
#                        1.01: digits, one dot, digits)
#   --only windows|linux one package only
#   --build-root DIR     where the builds go (default build/release)
#   --dist DIR           where the packages go (default dist)
#   --help, -h           this text
set -euo pipefail
umask 022

self=$(realpath -- "${BASH_SOURCE[0]}")
cd "$(dirname "$self")/.."
root=$PWD
start_us=${EPOCHREALTIME/[.,]/}

die() { echo "release: $*" >&2; exit 2; }
say() { echo "release: $*"; }

# The launcher.ini addresses an operator gives, given[KEY]; known[SECTION:key]
# names each key of the --addresses file in lower case ("": one to skip).
declare -A given=() from_file=() known=([common:version]="" [common:versioncheckurl]=versionCheckUrl
    [common:versionupdateurl]=versionUpdateUrl)
for k in loginUrl mainUrl homeUrl chargeUrl serviceUrl forumUrl; do known[platform:${k,,}]=$k; done

name=Varnholt art="" id="" key="" version="" site="" addresses="" only="" build_root=$root/build/release dist=$root/dist
while [ $# -gt 0 ]; do
    case $1 in
    --help | -h)
        echo "usage: tools/release.sh [OPTION VALUE]..."
        sed -n '/^# Options:/,/^[^#]/s/^#\( \|$\)//p' "$self"
        exit 0
        ;;
    esac
    [ $# -ge 2 ] || die "$1 needs a value (see tools/release.sh --help)"
    case $1 in
    --name) name=$2 ;;
    --art) art=$(realpath -- "$2") || die "no folder $2" ;;
    --id) id=$2 ;;
    --site) site=$2 ;;
    --login-url | --main-url | --home-url | --charge-url | --service-url | --forum-url)
        k=${1#--} k=${k%-url}
        given[${k}Url]=$2
        ;;
    --addresses) addresses=$(realpath -- "$2") && [ -f "$addresses" ] || die "no file $2" ;;
    --upgrade-key) key=$(realpath -- "$2") || die "no key at $2" ;;
    --version) version=$2 ;;
    --only) only=$2 ;;
    --build-root) build_root=$(realpath -m -- "$2") ;;
    --dist) dist=$(realpath -m -- "$2") ;;
    *) die "unknown option $1 (see tools/release.sh --help)" ;;
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
if [ -n "$site" ]; then
    site=${site%/}
    [[ $site =~ ^https?://[^/] && $site != *[[:space:]\"\']* ]] ||
        die "--site '$site': an http:// or https:// address without blanks, quotes or line breaks"
fi

# The [platform] and [common] addresses of the operator's INI file; keys are
# matched as the launcher matches them, without regard to case.
if [ -n "$addresses" ]; then
    section=""
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'} line=${line#$'\xef\xbb\xbf'}
        line="${line#"${line%%[![:blank:]]*}"}"
        case $line in
        "" | ";"* | "#"*) continue ;;
        "["*"]"*) section=${line#[} section=${section%%]*} section=${section,,} && continue ;;
        *=*) ;;
        *) die "$addresses: not a key=value line: $line" ;;
        esac
        k=${line%%=*} v=${line#*=}
        k="${k%"${k##*[![:blank:]]}"}" v="${v#"${v%%[![:blank:]]*}"}"
        v="${v%"${v##*[![:blank:]]}"}"
        if [ -v "known[$section:${k,,}]" ]; then
            [ -z "${known[$section:${k,,}]}" ] || from_file[${known[$section:${k,,}]}]=$v
        elif [[ $section == platform || $section == common ]]; then
            die "$addresses: unknown key $k in [$section]"
        fi
    done <"$addresses"
fi
for k in "${!from_file[@]}"; do [ -v "given[$k]" ] || given[$k]=${from_file[$k]}; done
for k in "${!given[@]}"; do
    [[ ${given[$k]} != *[$'\r\n']* ]] || die "$k: a line break in '${given[$k]}'"
    # launcher.ini stays ASCII: a Chinese Windows damages UTF-8 in it.
    ! printf '%s' "${given[$k]}" | LC_ALL=C grep -q '[^ -~]' ||
        say "warning: $k '${given[$k]}' is not ASCII; percent-encode it (see docs/operators.md)"
done
private=""
if [ -n "$key" ] && grep -q "PRIVATE KEY" "$key"; then
    private=$key
elif [ -n "$key" ] && [ -n "$site" ]; then
    die "--site signs the version files: --upgrade-key needs the private key, $key is not one"
fi

[ -n "$version" ] || version=$(head -n 1 VERSION)
[[ $version =~ ^[0-9]+\.[0-9]+$ ]] || die "version '$version': digits, one dot, digits (like 1.01)"
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
if [ -n "$private" ]; then
    public_key=$build_root/upgrade-key.pub.pem
    openssl pkey -in "$key" -pubout -out "$public_key" || die "cannot read the key $key"
elif [ -n "$key" ]; then
    public_key=$key
fi

# Builds the launcher and the upgrade program of a preset into the build root.
build() {
    local preset=$1
    say "building $preset in $build_root/$preset"
    cmake --preset "$preset" -B "$build_root/$preset" -DLAUNCHER_BRAND_NAME="$name" -DLAUNCHER_BRAND_ID="$id" \
        -DLAUNCHER_BRAND_DIR="$art" -DLAUNCHER_UPGRADE_KEY="$public_key" -DLAUNCHER_RELEASE_VERSION="$version" >"$build_root/$preset.log" 2>&1 ||
        { cat "$build_root/$preset.log" >&2; die "$preset does not configure"; }
    cmake --build "$build_root/$preset" --target launcher upgrade >>"$build_root/$preset.log" 2>&1 ||
        { tail -n 40 "$build_root/$preset.log" >&2; die "$preset does not build"; }
}

# Prints a template of tools/release/ with the release's values filled in.
fill() {
    local value text out
    out=$(<"tools/release/$1")
    for value in VERSION NAME CAPTION MENU_ID ID GLIBC; do
        text=${!value-}
        out=${out//@$value@/"$text"}
    done
    printf '%s\n' "$out"
}
crlf() { sed -i 's/$/\r/' "$1"; }

# Prints the launcher.ini template of a build (windows or linux, whose upgrade
# program is named $2) with the operator's addresses; without addresses of
# its own, the version check goes to the site's update folder of the build.
launcher_ini() {
    local k line
    local -A value=()
    for k in "${!given[@]}"; do value[$k]=${given[$k]}; done
    if [ -n "$site" ]; then
        [ -v 'value[versionCheckUrl]' ] || value[versionCheckUrl]=$site/update/$1/upgrade.ini
        [ -v 'value[versionUpdateUrl]' ] || value[versionUpdateUrl]=$site/update/$1/$2
    fi
    while IFS= read -r line; do
        k=${line%%=*}
        [[ $line != *=* || $line == ";"* || ! -v "value[$k]" ]] || line=$k=${value[$k]}
        printf '%s\n' "$line"
    done < <(fill launcher.ini)
}

# Writes the update folder of a build into dist/site/update/$1: the upgrade
# program $2 carrying the packaged launcher $3 under the name $4, then the
# version file, signed with a private key.
site_folder() {
    local out=$dist/site/update/$1 line=""
    mkdir -p "$out"
    python3 tools/pack-upgrade.py --program "$2" --launcher "$3" --version "$version" -o "$out/$4" ||
        die "tools/pack-upgrade.py could not make $out/$4"
    if [ -n "$private" ]; then
        line=$(bash tools/upgrade-key.sh sign "$private" "$out/$4" "$version") || die "signing $out/$4 failed"
    fi
    printf '[common]\nversion=%s\n%s' "$version" "${line:+$line$'\n'}" >"$out/upgrade.ini"
    crlf "$out/upgrade.ini"
    touch -d "@$SOURCE_DATE_EPOCH" "$out/$4" "$out/upgrade.ini"
    site_files+=("site/update/$1/$4" "site/update/$1/upgrade.ini")
}

stage=$build_root/stage
mkdir -p "$dist"
rm -f "$dist"/*-windows-x86.zip "$dist"/*-linux-x86_64.tar.gz "$dist/SHA256SUMS"
rm -rf "$dist/site/update/windows" "$dist/site/update/linux"
NAME=$name CAPTION=$caption VERSION=$version MENU_ID=$menu_id ID=$id
packages=() site_files=()

if [ "$only" != linux ]; then
    build win32
    w=$stage/windows
    rm -rf "$w" && mkdir -p "$w"
    cp "$build_root/win32/launcher.exe" "$w/launcher.exe"
    launcher_ini windows upgrade.exe >"$w/launcher.ini" && crlf "$w/launcher.ini"
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
    launcher_ini linux upgrade >"$l/launcher.ini" && crlf "$l/launcher.ini"
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
if [ -n "$site" ] && [ "$only" != linux ]; then
    site_folder windows "$build_root/win32/upgrade.exe" "$stage/windows/launcher.exe" upgrade.exe
    chmod 644 "$dist/site/update/windows/upgrade.exe"
fi
if [ -n "$site" ] && [ "$only" != windows ]; then
    strip --strip-all -o "$stage/upgrade" "$build_root/gtk/upgrade"
    site_folder linux "$stage/upgrade" "$l/launcher" upgrade
    chmod 755 "$dist/site/update/linux/upgrade"
fi
(cd "$dist" && sha256sum "${packages[@]}" "${site_files[@]}" >SHA256SUMS)

for p in "${packages[@]}" "${site_files[@]}"; do
    say "$(printf '%-40s %9d bytes' "$dist/$p" "$(stat -c %s "$dist/$p")")"
done
sed 's/^/release: /' "$dist/SHA256SUMS"
if [ -n "$site" ]; then
    say "upload $dist/site/update/ to $site/update/: the upgrade programs first, the version files last"
elif [ -n "$private" ]; then
    say "built with the upgrade key; --site URL also writes the version files, signed with it"
fi
us=$((${EPOCHREALTIME/[.,]/} - start_us))
say "$base: done in $((us / 1000000)).$((us / 100000 % 10)) s"
