#!/usr/bin/env bash
# Checks Korvalo as an installed desktop program, from an already configured build folder:
#  - installs into a staging folder and validates the desktop entry and the AppStream data;
#  - builds the Debian package, checks it with lintian (any error or warning fails) and installs
#    it on this machine with apt-get (needs root);
#  - checks the installed files, and that the desktop entry names an installed program and icon;
#  - runs the installed korvalo-cli, and korvalo --help and --version where there is no display;
#  - starts the installed korvalo offscreen and checks that it stays up;
#  - starts it once more on a virtual X server (Xvfb) and reads the icon its window gives the
#    window manager (_NET_WM_ICON), which is what title bars and task switchers show.
# Exits non-zero at the first failed check.
#
# Build folder: KORVALO_BUILD_DIR (default build). Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${KORVALO_BUILD_DIR:-build}
app_id=io.github.korvalo.Korvalo

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
packages=(
  dpkg-dev            # dpkg-shlibdeps works out the package's dependencies
  lintian             # Debian's checks of a package
  desktop-file-utils  # desktop-file-validate
  appstream           # appstreamcli
  xvfb xauth x11-utils # a virtual X server, xwininfo and xprop for the window icon
)
# shellcheck source=scripts/install-missing.sh
source "$(dirname "${BASH_SOURCE[0]}")/install-missing.sh"
install_missing "${packages[@]}"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build_dir" --target korvalo korvalo-cli korvalo_doc

echo "== Install into a staging folder and validate"
DESTDIR="$work/stage" cmake --install "$build_dir" --prefix /usr >/dev/null
desktop-file-validate "$work/stage/usr/share/applications/$app_id.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$work/stage/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "appstreamcli validate"

echo "== Debian package"
deb=$(cd "$build_dir" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -f "$deb" ] || fail "cpack made no package"
case "$(basename "$deb")" in
  korvalo_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "package name $(basename "$deb")" ;;
esac
dpkg-deb --field "$deb" Package Version Architecture Section Maintainer Depends Recommends
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || fail "Depends lacks the Qt libraries"
dpkg-deb --field "$deb" Recommends | grep -q fonts-noto-cjk || fail "Recommends lacks the CJK font"
# Checked in the package, not on disk: minimal systems (container images) often leave the manual
# pages and most of /usr/share/doc out when they install a package.
contents=$(dpkg-deb --contents "$deb" | awk '{ print $1, $6 }')
for f in /usr/share/doc/korvalo/changelog.Debian.gz \
  /usr/share/man/man1/korvalo.1.gz /usr/share/man/man1/korvalo-cli.1.gz \
  /usr/share/man/zh_CN/man1/korvalo.1.gz /usr/share/man/zh_CN/man1/korvalo-cli.1.gz; do
  grep -qx -- "-rw-r--r-- .$f" <<<"$contents" || fail "the package lacks $f (or its mode is not 644)"
done

echo "== lintian"
# Any error or warning fails; the info-level tags are shown. A lintian without --fail-on ends
# non-zero on errors only, so the warnings are read from what it prints too.
lintian_args=(--display-info)
if lintian --help 2>/dev/null | grep -q -- --fail-on; then
  lintian_args+=(--fail-on "error,warning")
fi
lintian_rc=0
lintian_out=$(lintian "${lintian_args[@]}" "$deb" 2>&1) || lintian_rc=$?
# As root it says that it would rather not run as root: not a finding about the package.
lintian_out=$(grep -v '^running with root privileges' <<<"$lintian_out" || true)
echo "${lintian_out:-no tags}"
if [ "$lintian_rc" -ne 0 ] || grep -qE '^[EW]: ' <<<"$lintian_out"; then
  fail "lintian: errors or warnings (exit status $lintian_rc)"
fi

echo "== Install the package"
"${sudo[@]}" apt-get install -y -qq --reinstall "$deb" >/dev/null
for f in /usr/bin/korvalo /usr/bin/korvalo-cli \
  "/usr/share/applications/$app_id.desktop" \
  "/usr/share/metainfo/$app_id.metainfo.xml" \
  "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
  "/usr/share/icons/hicolor/48x48/apps/$app_id.png" \
  /usr/share/doc/korvalo/copyright; do
  dpkg -S "$f" >/dev/null 2>&1 || fail "$f does not belong to the package"
  [ -f "$f" ] || fail "$f is missing"
done
[ -x /usr/bin/korvalo ] || fail "/usr/bin/korvalo is not executable"
[ -x /usr/bin/korvalo-cli ] || fail "/usr/bin/korvalo-cli is not executable"
# The menu finds the program and the icon by the names the desktop entry gives.
entry="/usr/share/applications/$app_id.desktop"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ "$(command -v "$exec_name")" = /usr/bin/korvalo ] || fail "Exec=$exec_name is not the installed program"
icon_name=$(sed -n 's/^Icon=//p' "$entry")
[ -f "/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "Icon=$icon_name is not installed"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' korvalo)"

# The window lists the folder it starts in: an empty one of its own.
mkdir "$work/start"
cd "$work/start"

echo "== The installed korvalo-cli"
# The package's version without its Debian revision is the program's.
upstream=$(dpkg-query -W -f='${Version}' korvalo)
upstream=${upstream%-*}
version=$(korvalo-cli --version) || fail "korvalo-cli --version"
echo "$version"
[ "$version" = "korvalo-cli (Korvalo) $upstream" ] || fail "korvalo-cli --version: $version"
touch "$work/start/song.mp3"
[ "$(korvalo-cli list "$work/start" | head -1)" = song.mp3 ] || fail "korvalo-cli list"
rm "$work/start/song.mp3"

echo "== korvalo --help and --version without a display"
# No display, no Wayland, no Qt platform: they must print and end before Qt would look for one.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10)
version=$("${no_display[@]}" korvalo --version 2>"$work/stderr") ||
  fail "korvalo --version: exit status $? ($(cat "$work/stderr"))"
echo "$version"
[ "$version" = "korvalo (Korvalo) $upstream" ] || fail "korvalo --version: $version"
help=$("${no_display[@]}" korvalo --help 2>"$work/stderr") ||
  fail "korvalo --help: exit status $? ($(cat "$work/stderr"))"
[[ "$help" == "用法：korvalo"* ]] || fail "korvalo --help: $help"
[ ! -s "$work/stderr" ] || fail "korvalo --help wrote to stderr: $(cat "$work/stderr")"

echo "== Start the installed program offscreen"
rc=0
QT_QPA_PLATFORM=offscreen timeout 5 korvalo || rc=$?
[ "$rc" -eq 124 ] || fail "korvalo ended by itself after less than 5 s (exit status $rc)"
echo "still running after 5 s"

echo "== The window icon, as the window manager sees it"
# Prints the sizes of the icons in the _NET_WM_ICON of the installed program's window: the
# property holds, for each icon, its width, its height and then width x height pixels.
cat >"$work/icons.sh" <<'EOF'
korvalo & pid=$!
window=
for _ in $(seq 100); do
  window=$(xwininfo -root -tree | awk '/\("korvalo" "Korvalo"\)/ { print $1; exit }')
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -n "$window" ]; then
  xprop -id "$window" -notype 32c _NET_WM_ICON | sed 's/^[^=]*=//' | tr ',' '\n' |
    awk 'NF { v[n++] = $1 } END { for (i = 0; i + 1 < n; i += 2 + v[i] * v[i + 1]) print v[i] "x" v[i + 1] }'
fi
kill "$pid"
wait "$pid" 2>/dev/null || true
EOF
sizes=$(timeout 60 xvfb-run -a bash "$work/icons.sh" 2>/dev/null | sort -n | tr "\n" " " || true)
echo "window icon sizes: ${sizes:-none}"
for s in 16x16 32x32 48x48 256x256; do
  [[ " $sizes " == *" $s "* ]] || fail "the window icon has no $s image"
done

echo "== Package checks passed"
