#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it as a user's machine sees it:
# the files it installs and their modes, its control data, the desktop entry and metainfo
# by the desktop's own validators, the man pages against --help, and the installed
# programs run from an unrelated directory.
#   check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb="$tmp/out/pemra_${version}_${arch}.deb"
[ -f "$deb" ] || { fail "no package $deb:"; ls "$tmp/out" >&2; exit 1; }

# Exactly these files, owned by root, programs executable and everything else not.
icons=/usr/share/icons/hicolor
expected="/usr/bin/pemra-cli 755
/usr/bin/pemra-eval 755
/usr/lib/udev/rules.d/60-pemra.rules 644
/usr/share/applications/pemra-eval.desktop 644
/usr/share/metainfo/org.pemra.eval.metainfo.xml 644
$icons/scalable/apps/pemra-eval.svg 644
/usr/share/man/man1/pemra-cli.1.gz 644
/usr/share/man/man1/pemra-eval.1.gz 644
/usr/share/pemra/95-pemra-realtime.conf 644"
for size in 16 22 24 32 48 64 128 256; do
  expected+=$'\n'"$icons/${size}x${size}/apps/pemra-eval.png 644"
done
mode() {  # -rwxr-xr-x -> 755
  local s=$1 n=0 out="" i
  for i in 1 4 7; do
    n=0
    [ "${s:i:1}" = r ] && n=$((n + 4))
    [ "${s:i+1:1}" = w ] && n=$((n + 2))
    [ "${s:i+2:1}" = x ] && n=$((n + 1))
    out+=$n
  done
  echo "$out"
}
actual=$(dpkg-deb -c "$deb" | while read -r perms owner _ _ _ path _; do
  [ "${perms:0:1}" = d ] && continue
  [ "$owner" = root/root ] || echo "owner $owner of $path"
  echo "${path#.} $(mode "$perms")"
done)
if ! diff <(sort <<<"$expected") <(sort <<<"$actual") >"$tmp/contents.diff"; then
  fail "package contents (< expected, > packaged):"
  cat "$tmp/contents.diff" >&2
fi

# Control data: dependencies found from the programs' libraries, the group note, the
# udev reload after installing.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pemra ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version)"
for lib in libqt6widgets6 libusb-1.0-0 libfmt libc6; do
  grep -q "$lib" <<<"$(field Depends)" || fail "Depends lacks $lib: $(field Depends)"
done
grep -q "group plugdev" <<<"$(field Description)" || fail "Description names no group plugdev"
grep -q "group lp" <<<"$(field Description)" || fail "Description names no group lp"
dpkg-deb -e "$deb" "$tmp/control"
[ -x "$tmp/control/postinst" ] && grep -q "udevadm control --reload-rules" "$tmp/control/postinst" ||
  fail "postinst does not reload the udev rules"

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
# Every device rule also gives the user at the seat access (desktops without plugdev).
rules="$root/usr/lib/udev/rules.d/60-pemra.rules"
[ "$(grep -c '^SUBSYSTEM==' "$rules")" = "$(grep -c 'TAG+="uaccess"' "$rules")" ] ||
  fail "a rule of $rules lacks TAG+=\"uaccess\""
desktop="$root/usr/share/applications/pemra-eval.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
grep -qx "Exec=pemra-eval" "$desktop" || fail "desktop entry: no plain Exec=pemra-eval"
grep -qx "Exec=pemra-eval --simulate" "$desktop" || fail "desktop entry: no --simulate action"
metainfo="$root/usr/share/metainfo/org.pemra.eval.metainfo.xml"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo: no release $version"
if command -v appstreamcli >/dev/null; then  # the metainfo, and the entry it launches
  appstreamcli validate-tree --no-net "$tmp/root" >"$tmp/as.log" 2>&1 ||
    { cat "$tmp/as.log" >&2; fail "appstreamcli validate-tree"; }
fi

# The installed programs, run from a directory that has nothing of the build tree.
mkdir "$tmp/work"
cd "$tmp/work"
cli="$root/usr/bin/pemra-cli"
eval_=$root/usr/bin/pemra-eval
version_re="${version//./\\.}( \\(git [^)]+\\))?"
"$cli" --version | grep -Eqx "pemra-cli $version_re" || fail "pemra-cli --version: $("$cli" --version)"
got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$eval_" --version 2>&1) || true
grep -Eqx "pemra-eval $version_re" <<<"$got" || fail "pemra-eval --version without a display: $got"
dump=$("$cli" --simulate dump) || fail "pemra-cli --simulate dump failed"
[ "$(head -1 <<<"$dump")" = $'Name\t\tAddr\thexValue\t   decValue' ] || fail "dump header: $(head -1 <<<"$dump")"
grep -q $'^SUPPLY_OUT *\t0002\t' <<<"$dump" || fail "dump has no SUPPLY_OUT line"
[ ! -e CommPort.cfg ] || fail "pemra-cli wrote CommPort.cfg"

# Man pages: formatted without warnings; every command and option of --help documented
# (a tag of the page's COMMANDS or OPTIONS section), and nothing documented that is gone.
man_page() { MANWIDTH=120 man -l --warnings -E UTF-8 "$root/usr/share/man/man1/$1.1.gz" 2>"$tmp/man.err" | col -bx; }
tags() {  # the tags of one section of a rendered page: lines indented by exactly 7 blanks
  awk -v s="$1" '/^[A-Z]/ {on = ($0 == s); next} on && /^       [^ ]/' | sed 's/^ *//'
}
for page in pemra-cli pemra-eval; do
  man_page "$page" >/dev/null
  [ ! -s "$tmp/man.err" ] || { fail "man $page warns:"; cat "$tmp/man.err" >&2; }
done
help=$("$cli" --help)
help_commands=$(awk '/^Subcommands:/ {on = 1; next} on && /^  [^ ]/ {print $1}' <<<"$help" | sort)
man_commands=$(man_page pemra-cli | tags COMMANDS | awk '{print $1}' | sort)
[ "$help_commands" = "$man_commands" ] ||
  fail "pemra-cli commands: --help has [$(echo $help_commands)], the man page [$(echo $man_commands)]"
one_line=$(awk '/^Subcommands:/ {on = 1; next} on && NF == 1' <<<"$help")
[ -z "$one_line" ] || fail "--help gives a command without its line: $one_line"
help_options=$(awk '/^Options:/ {on = 1; next} /^[A-Z]/ {on = 0} on' <<<"$help" | grep -o -- '--[a-z-]*' | sort -u)
man_options=$(man_page pemra-cli | tags OPTIONS | grep -o -- '--[a-z-]*' | sort -u)
[ "$help_options" = "$man_options" ] ||
  fail "pemra-cli options: --help has [$(echo $help_options)], the man page [$(echo $man_options)]"
eval_usage=$("$eval_" --help)
eval_man=$(man_page pemra-eval | tags OPTIONS)
for option in $(grep -o -- '--[a-z-]*' <<<"$eval_usage"); do
  grep -q -- "^$option\\b" <<<"$eval_man" || fail "man pemra-eval does not document $option"
done

[ "$failures" -eq 0 ] || exit 1
echo "package $(basename "$deb") checked"
