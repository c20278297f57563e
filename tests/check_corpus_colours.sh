#!/usr/bin/env bash
# check_corpus_colours.sh QUORVIX REFERENCE_PROFILES CORPUS_DIR: every opaque corpus document with
# an ICC profile, converted by quorvix with its defaults, lies within 2 levels (3 for CMYK) of the
# profile-managed picture ImageMagick makes of its stored composite with LittleCMS (relative
# colorimetric, black-point compensation). A transparent document's stored composite is matted
# against white in its own colours, which quorvix undoes before the profile: ImageMagick does so
# for RGB, and for grey the reference undoes it the same way. Documents rebuilt from their layers, CMYK ones
# with extra channels and Lab ones (ImageMagick converts Lab with formulas of its own; the decoder
# tests check Lab against the colour science) are left out. Skips (77) without the corpus or
# ImageMagick.
set -u
quorvix=$1 make_profiles=$2 corpus=$3
[ -f "$corpus/MANIFEST.tsv" ] || { echo "no corpus at $corpus: skipped"; exit 77; }
magick=$(command -v convert-im6.q16 || command -v magick || command -v convert) ||
  { echo "no ImageMagick: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/run HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$HOME" "$work/ours" "$work/ref"
chmod 700 "$XDG_RUNTIME_DIR"
"$make_profiles" "$work/srgb.icc" "$work/grey.icc" || { echo "cannot write the profiles"; exit 1; }

failures=0 checked=0
# Columns: file, mode, channels, merged ("no": rebuilt from the layers).
while IFS=$'\t' read -r file mode channels merged; do
  case $mode in
    RGB) colours=3 target=srgb.icc tolerance=2 ;;
    Grayscale) colours=1 target=grey.icc tolerance=2 ;;
    CMYK) colours=4 target=srgb.icc tolerance=3 ;;
    *) continue ;;
  esac
  [ "$merged" = no ] && continue
  document=$corpus/$file
  [ -f "$document" ] || continue
  [ -n "$("$magick" "$document[0]" -format '%[profile:icc]' info: 2>/dev/null)" ] || continue
  # One extra channel of a grey or RGB document is taken as its transparency; other extra
  # channels may be selections or spot colours.
  unmatte=() transparent=0
  if [ "$channels" -eq $((colours + 1)) ] && [ "$mode" != CMYK ]; then
    transparent=1
    [ "$mode" = Grayscale ] && unmatte=(-channel RGB -fx 'a == 0 ? u : (u - (1 - a)) / a' +channel)
  elif [ "$channels" -ne "$colours" ]; then
    continue
  fi
  name=${file%.*}
  # quorvix takes documents by the .psd name, large ones too.
  cp "$document" "$work/$name.psd"
  "$quorvix" -q -i "$work/$name.psd" -o "$work/ours" >/dev/null 2>&1 || {
    echo "FAIL $file: quorvix could not convert it"; failures=$((failures + 1)); continue; }
  "$magick" "$document[0]" "${unmatte[@]}" -intent relative -black-point-compensation \
    -profile "$work/$target" "$work/ref/$name.png" 2>/dev/null || continue
  rm -f "$work/$name.psd"
  # What fully transparent pixels hold is no colour anyone sees.
  if [ "$transparent" = 1 ]; then
    for picture in "$work/ours/$name.png" "$work/ref/$name.png"; do
      "$magick" "$picture" -background black -alpha background "$picture" 2>/dev/null
    done
  fi
  # ImageMagick's absolute error is in 16-bit units whatever the depth: a level is 257.
  error=$(compare -metric PAE "$work/ours/$name.png" "$work/ref/$name.png" null: 2>&1 | cut -d' ' -f1)
  levels=$(awk -v e="$error" 'BEGIN { printf "%.2f", e / 257 }')
  checked=$((checked + 1))
  if awk -v l="$levels" -v t="$tolerance" 'BEGIN { exit !(l <= t) }'; then
    echo "ok   $file: $levels levels (at most $tolerance)"
  else
    echo "FAIL $file: $levels levels from the reference (at most $tolerance)"
    failures=$((failures + 1))
  fi
done < <(awk -F'\t' 'NR > 1 { print $1 "\t" $9 "\t" $11 "\t" $14 }' "$corpus/MANIFEST.tsv")

echo "$checked documents checked, $failures beyond their tolerance"
[ "$checked" -gt 0 ] && [ "$failures" -eq 0 ]
