#!/usr/bin/env bash
# Builds the Debian package from build/ (or the build directory given) and checks what it
# installs and what it declares it depends on. Exits non-zero on the first thing missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
dir="${1:-build}"
if [[ ! -f "$dir/CPackConfig.cmake" ]]; then
  cmake -S . -B "$dir" -G Ninja >/dev/null
fi
cmake --build "$dir" --target quelvane

out="$dir/packages"
rm -f "$out"/quelvane_*.deb
cpack --config "$dir/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
debs=("$out"/quelvane_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f "${debs[0]}" ]]; then
  echo "check-package: expected one quelvane_*.deb in $out" >&2
  exit 1
fi
deb="${debs[0]}"
echo "package: $deb"

failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

contents="$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||')"
wanted=(
  usr/bin/quelvane
  usr/share/applications/quelvane.desktop
  usr/share/icons/hicolor/scalable/apps/quelvane.svg
)
for size in 16 24 32 48 64 128 256; do
  wanted+=("usr/share/icons/hicolor/${size}x${size}/apps/quelvane.png")
done
for path in "${wanted[@]}"; do
  if grep -qxF "$path" <<<"$contents"; then
    echo "contains $path"
  else
    fail "the package does not contain $path"
  fi
done

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == quelvane ]] || fail "Package is '$(field Package)', not quelvane"
[[ "$(field Section)" == utils ]] || fail "Section is '$(field Section)', not utils"
[[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
[[ -n "$(field Description)" ]] || fail "no Description"

depends="$(field Depends)"
echo "Depends: $depends"
# Each entry of Depends, without its version, one a line.
names="$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/\(.*\)//; s/:any//; s/^ +//; s/ +$//')"
for name in libqt6widgets6 libqt6gui6 libqt6core6 libasound2 fonts-liberation xdg-utils; do
  if grep -qxF "$name" <<<"$names"; then
    echo "depends on $name"
  else
    fail "Depends does not name $name"
  fi
done

# The menu entry starts the program the package installs, with the icon it installs.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
entry="$work/usr/share/applications/quelvane.desktop"
if [[ -f "$entry" ]]; then
  exec_line="$(sed -n 's/^Exec=//p' "$entry")"
  icon="$(sed -n 's/^Icon=//p' "$entry")"
  [[ -x "$work/usr/bin/${exec_line%% *}" ]] || fail "Exec=$exec_line names no program in usr/bin"
  [[ -f "$work/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "Icon=$icon names no installed icon"
  if desktop-file-validate "$entry"; then
    echo "desktop-file-validate: no complaints"
  else
    fail "desktop-file-validate rejects the entry"
  fi
fi

if ((failed)); then
  echo "check-package: FAILED" >&2
  exit 1
fi
echo "check-package: OK"
