#!/bin/sh
# Adds the launcher in this folder to the player's own application menu, no
# root needed: the menu entry goes to $XDG_DATA_HOME/applications (by default
# ~/.local/share/applications), the icon to the icons folder beside it.
#   ./install-menu.sh            add (again, after the folder has moved)
#   ./install-menu.sh --remove   take both out again
set -eu
id=@MENU_ID@
here=$(cd "$(dirname "$0")" && pwd -P)
data=${XDG_DATA_HOME:-$HOME/.local/share}
apps=$data/applications
icons=$data/icons/hicolor/48x48/apps

case "${1:-}" in
--remove)
    rm -f "$apps/$id.desktop" "$icons/$id.png"
    echo "已移除菜单项 $apps/$id.desktop"
    exit 0 ;;
"") ;;
*)
    echo "用法: $0 [--remove]" >&2
    exit 2 ;;
esac

# A menu entry cannot name such a path: a line break ends the key, and GLib's
# menus look for a program whose path holds "%" without undoing its "%%".
case $here in
*'
'* | *%*) echo "文件夹的路径里有换行符或 %，无法加入菜单，请换一个文件夹: $here" >&2; exit 1 ;;
esac
# An entry is UTF-8 text without control characters; the desktop rejects any
# other, so nothing is written for such a path.
if ! printf '%s' "$here" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 ||
    printf '%s' "$here" | LC_ALL=C grep -q '[[:cntrl:]]'; then
    echo "文件夹的路径不是有效的 UTF-8 文字或含有控制字符，无法加入菜单，请换一个文件夹" >&2
    exit 1
fi
# Exec takes the program's path in double quotes with " ` $ \ escaped by a
# backslash; the key's value then doubles every backslash.
program=$(printf '%s\n' "$here/launcher" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g')

mkdir -p "$apps" "$icons"
cp "$here/$id.png" "$icons/$id.png"
while IFS= read -r line; do
    case $line in
    Exec=*) printf 'Exec="%s"\n' "$program" ;;
    *) printf '%s\n' "$line" ;;
    esac
done <"$here/$id.desktop" >"$apps/$id.desktop.tmp"
mv "$apps/$id.desktop.tmp" "$apps/$id.desktop"
echo "已加入应用菜单: $apps/$id.desktop"
