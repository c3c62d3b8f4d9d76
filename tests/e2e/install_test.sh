# The game installed as a desktop program, from the build directory the binary sits in:
# `cmake --install` into a scratch prefix puts exactly the binary, a valid menu entry and a
# well-formed icon there, and the installed binary runs; the Debian package that CPack
# builds holds the same files under /usr and depends on no build or test package.
# Needs no display.
source "$(dirname "$0")/lib.sh"
command -v desktop-file-validate >/dev/null && command -v dpkg-shlibdeps >/dev/null \
  || fail "desktop-file-validate or dpkg-shlibdeps is missing (scripts/install-deps installs them)"

build=$(dirname "$GAME")
[ -f "$build/CMakeCache.txt" ] && [ -f "$build/CPackConfig.cmake" ] \
  || fail "$build is not a configured build directory with the packaging rules"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
unset DESTDIR # would move the whole install somewhere else

# Relative paths of the regular files and links under directory $1, sorted.
files_under() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort); }
entry=share/applications/vantorix.desktop
icon=share/icons/hicolor/scalable/apps/vantorix.svg
expected=$(printf '%s\n' bin/vantorix "$entry" "$icon" | sort)

# --- cmake --install into a scratch prefix
prefix=$WORK/prefix
cmake --install "$build" --prefix "$prefix" >"$WORK/install.log" 2>&1 \
  || { cat "$WORK/install.log" >&2; fail "cmake --install failed"; }
installed=$(files_under "$prefix")
[ "$installed" = "$expected" ] \
  || fail "the install put other files than the game's three:"$'\n'"$installed"

validation=$(desktop-file-validate "$prefix/$entry" 2>&1) \
  || fail "desktop-file-validate rejected the menu entry: $validation"
[ -z "$validation" ] || fail "desktop-file-validate complained about the menu entry: $validation"
# The menu starts the entry's Exec by name from PATH and finds its Icon by name in the theme.
for line in Type=Application Name=Vantorix Exec=vantorix Icon=vantorix Terminal=false; do
  grep -qx "$line" "$prefix/$entry" || fail "the menu entry lacks $line"
done
grep -q '^Categories=.*Game;' "$prefix/$entry" || fail "the menu entry is not in the Game category"

python3 - "$prefix/$icon" <<'EOF' || fail "the installed icon is not a well-formed SVG image"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
assert root.get("viewBox"), "no viewBox: the icon would not scale"
assert len(root) > 0, "nothing drawn"
EOF

# The installed copy must stand on its own: no run path back into the build tree.
readelf -d "$prefix/bin/vantorix" | grep -F "$build" && fail "the installed binary looks for libraries in $build"
shown=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/vantorix" --version 2>"$WORK/installed.err") \
  || fail "the installed binary's --version failed: $(tail -n 5 "$WORK/installed.err")"
[ "$shown" = "vantorix $version" ] || fail "the installed binary's --version printed '$shown', not 'vantorix $version'"

# --- the Debian package
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1 \
  || { tail -n 30 "$WORK/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$WORK"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}

listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | sort)
[ "$listed" = "$expected" ] || fail "the package holds other files than the game's three under usr/:"$'\n'"$listed"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vantorix ] || fail "the package is named '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "the package's version is '$(field Version)', not $version"
[ "$(field Section)" = games ] || fail "the package's section is '$(field Section)', not games"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "the package has no maintainer or description"

depends=$(field Depends)
# Package names alone, one a line: alternatives and version constraints dropped.
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/:any//; s/[[:space:]]//g' | grep -v '^$' | sort -u)
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6 qt6-qpa-plugins; do
  grep -qx "$need" <<<"$names" || fail "Depends lacks $need: $depends"
done
build_only='.*-dev|cmake|ninja-build|make|g\+\+|gcc|clang.*|pkg-config|libgtest.*|libgmock.*|googletest|libbenchmark.*|xvfb|xdotool|x11-utils|pulseaudio|pulseaudio-utils|python3|desktop-file-utils|dpkg-dev|fakeroot'
offending=$(grep -xE "$build_only" <<<"$names" || true)
[ -z "$offending" ] || fail "Depends names build or test packages ($(echo $offending)): $depends"

# What the package unpacks is the same entry and icon, and a binary that still runs
# after CPack stripped it.
dpkg-deb -x "$deb" "$WORK/unpacked"
cmp -s "$WORK/unpacked/usr/$entry" "$prefix/$entry" && cmp -s "$WORK/unpacked/usr/$icon" "$prefix/$icon" \
  || fail "the package's menu entry or icon differs from the installed one"
shown=$(env -u DISPLAY -u WAYLAND_DISPLAY "$WORK/unpacked/usr/bin/vantorix" --version 2>"$WORK/packaged.err") \
  || fail "the packaged binary's --version failed: $(tail -n 5 "$WORK/packaged.err")"
[ "$shown" = "vantorix $version" ] || fail "the packaged binary's --version printed '$shown'"

echo "installed and packaged vantorix $version; Depends: $depends"
