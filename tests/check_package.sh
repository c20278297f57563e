#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a temporary root and checks what a
# user gets: the unpacked program converts a document (its decoder found in the private folder),
# finds its themes, writes nothing below its prefix; the desktop entry, AppStream record and bash
# completion are valid.
#
#   check_package.sh SOURCE_FOLDER BUILD_FOLDER THEME_TESTS_BINARY
set -euo pipefail
trap 'echo "check_package: line $LINENO failed" >&2' ERR
source_folder=$1
build=$2
theme_tests=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deb=$("$source_folder/scripts/package" "$build" "$work/out" | tail -n1)
root="$work/root"
dpkg-deb -x "$deb" "$root"

fail() {
  echo "check_package: $*" >&2
  exit 1
}

desktop-file-validate "$root/usr/share/applications/quorvix.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" ||
  fail "appstreamcli validate: $(cat "$work/appstream.log")"
[ -s "$root/usr/share/man/man1/quorvix.1.gz" ] || fail "no manual page"
for size in 16 24 32 48 64 128 256; do
  [ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/quorvix.png" ] ||
    fail "no ${size} px icon"
done

# Every program the build puts beside quorvix is a helper of the package.
for program in "$build"/bin/quorvix-*; do
  [ -x "$root/usr/lib/quorvix/$(basename "$program")" ] || fail "no $(basename "$program") helper"
done
[ -s "$root/usr/share/doc/quorvix/tarnex.html" ] || fail "no HTML manual"

# The installed program converts the sample with the decoder of the package (the build's is not
# beside it) and leaves its prefix as it was.
find "$root" | sort >"$work/before"
mkdir "$work/converted"
cp "$source_folder/examples/sample.psd" "$work/sample.psd"
mkdir "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" "$root/usr/bin/quorvix" -q -i "$work/sample.psd" -o "$work/converted" ||
  fail "the unpacked program did not convert the sample"
[ -s "$work/converted/sample.png" ] || fail "no sample.png"
find "$root" | sort >"$work/after"
diff -u "$work/before" "$work/after" || fail "the run wrote below the prefix"

QUORVIX_INSTALLED_ROOT="$root" "$theme_tests" --gtest_filter='InstalledLayout.*' \
  --gtest_brief=1 | tee "$work/themes.log"
grep -q "PASSED.*1 test" "$work/themes.log" || fail "themes were not found in the unpacked tree"

# The completion offers keyword values and long options as bash-completion calls it.
completion="$root/usr/share/bash-completion/completions/quorvix"
bash -n "$completion"
# complete_line LINE WORD...: what the completion offers at the end of LINE, split by bash into
# the words given.
complete_line() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"
    compopt() { :; }  # only a running completion may set its options
    COMP_LINE=$2; COMP_POINT=${#COMP_LINE}; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _comp_quorvix; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
[ "$(complete_line "quorvix --png-compression=zl" quorvix --png-compression = zl)" = "zlib1
zlib6
zlib9" ] || fail "no keyword completion"
complete_line "quorvix --wm-text-pos" quorvix --wm-text-pos | grep -qx -- "--wm-text-position=" ||
  fail "no option completion"
echo "package check passed: $(basename "$deb")"
