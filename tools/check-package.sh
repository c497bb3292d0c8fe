#!/usr/bin/env bash
# Checks the Debian package that tools/package.sh made: its control data and
# file list, lintian (no errors), the desktop entry and the AppStream file,
# and the programs unpacked into a throwaway root: quillmere-cli lists the
# installed samples, and the program finds its program folder there.
# Usage: tools/check-package.sh PACKAGE.deb
# Ends with the line "package checks: P passed, F failed"; fails when F > 0.
set -uo pipefail
deb=${1:?usage: tools/check-package.sh PACKAGE.deb}
passed=0
failed=0
check() { # check NAME COMMAND...: runs it, counts it, shows its output on failure
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    printf '%s\n' "$out" | sed 's/^/    /'
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== dpkg-deb --info"
dpkg-deb --info "$deb"
echo "== dpkg-deb --contents"
dpkg-deb --contents "$deb" | awk '{ print $1, $2, $NF }'

has_files() {
  local list missing=0 f
  list=$(dpkg-deb --contents "$deb" | awk '{ print $NF }' | sed 's|^\./|/|')
  for f in /usr/bin/quillmere /usr/bin/quillmere-cli \
           /usr/share/quillmere/Samples/sample.mdb /usr/share/quillmere/Samples/FoxPro/sample.dbc \
           /usr/share/quillmere/HAND-M.CUR /usr/share/quillmere/x/o.cjs \
           /usr/share/applications/quillmere.desktop /usr/share/metainfo/app.quillmere.Quillmere.metainfo.xml \
           /usr/share/mime/packages/quillmere.xml \
           /usr/share/icons/hicolor/48x48/apps/quillmere.png /usr/share/icons/hicolor/256x256/apps/quillmere.png \
           /usr/share/man/man1/quillmere.1.gz /usr/share/man/man1/quillmere-cli.1.gz \
           /usr/share/doc/quillmere/copyright /usr/share/doc/quillmere/user-guide.md; do
    grep -qx "$f" <<<"$list" || { echo "missing: $f"; missing=1; }
  done
  return $missing
}
check "the package holds the programs, the program folder, the desktop files and the manuals" has_files

depends_on_qt() { dpkg-deb --field "$deb" Depends | tee /dev/stderr | grep -q 'libqt6widgets6'; }
check "its dependencies come from the libraries it links" depends_on_qt

# lintian, once: its report is shown whole, and an error fails the check.
echo "== lintian"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
no_lintian_errors() { ! grep '^E:' "$work/lintian.txt"; }
check "lintian reports no errors" no_lintian_errors

dpkg-deb -x "$deb" "$work/root"
echo "== desktop-file-validate"
check "desktop-file-validate" desktop-file-validate "$work/root/usr/share/applications/quillmere.desktop"
echo "== appstreamcli validate"
check "appstreamcli validate" appstreamcli validate --no-net "$work/root/usr/share/metainfo/app.quillmere.Quillmere.metainfo.xml"

# The unpacked programs, run from the throwaway root.
cli_lists_the_samples() {
  local share=$work/root/usr/share/quillmere access fox
  access=$("$work/root/usr/bin/quillmere-cli" tables "$share/Samples/sample.mdb") || return 1
  fox=$("$work/root/usr/bin/quillmere-cli" tables "$share/Samples/FoxPro/sample.dbc") || return 1
  printf '%s\n%s\n' "$access" "$fox"
  grep -q '^TABLE	' <<<"$access" && grep -q '^TABLE	' <<<"$fox"
}
check "the installed quillmere-cli lists the tables of the installed samples" cli_lists_the_samples

finds_its_program_folder() {
  local out folder
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/quillmere" --help) || return 1
  printf '%s\n' "$out"
  folder=$(sed -n 's/^Program folder (samples, hand cursor, skin): //p' <<<"$out")
  [[ "$folder" == "$(cd "$work/root/usr/share/quillmere" && pwd -P)" ]] &&
    [[ -f "$folder/Samples/sample.mdb" && -f "$folder/HAND-M.CUR" && -f "$folder/x/o.cjs" ]]
}
check "the installed program finds its samples, cursor and skin in /usr/share/quillmere" finds_its_program_folder

echo "package checks: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
