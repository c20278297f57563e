#!/usr/bin/env bash
# corpus_from_layers.sh BIN_DIR [CORPUS_DIR] [--strict]: every corpus document with a genuine
# stored composite and at least two layers is converted twice, as stored and with --from-layers,
# and the two pictures are compared (ImageMagick `compare -metric PSNR`, both over white so that
# the colour of fully transparent pixels does not count). Prints one line a document, with what
# the rebuild says it left out, and a summary; documents of modes that are not rebuilt are listed
# apart. With --strict, exits 1 when fewer than 90% agree at 40 dB or more or when a document from
# an adjustment-layer test set (its source path names "adjustments") agrees at less than 35 dB,
# and 77 (skipped) when the corpus or ImageMagick is missing.
set -u
bin=$(cd "${1:?usage: corpus_from_layers.sh BIN_DIR [CORPUS_DIR] [--strict]}" && pwd)
corpus=$(dirname "$0")/../../shared/corpus/psd
[ $# -ge 2 ] && [ "$2" != --strict ] && corpus=$2
strict=0
for arg in "$@"; do [ "$arg" = --strict ] && strict=1; done
manifest=$corpus/MANIFEST.tsv
skipped=$([ "$strict" = 1 ] && echo 77 || echo 0)
if [ ! -f "$manifest" ]; then
  echo "no corpus at $corpus: nothing to compare"
  exit "$skipped"
fi
command -v compare >/dev/null || { echo "ImageMagick's compare is missing: skipped"; exit "$skipped"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home BIN=$bin WORK=$work CORPUS=$corpus
mkdir -p "$HOME" "$work/lines"

# One document: FILE MODE FLOOR. Writes its line to lines/FILE.
compare_one() {
  file=$1 mode=$2 floor=$3 name=${1%.*}
  dir=$WORK/$file  # a .psb and its .psd twin share a name
  mkdir -p "$dir/stored" "$dir/layers" "$dir/run"
  chmod 700 "$dir/run"
  # Runs side by side each need a lock folder of their own.
  export XDG_RUNTIME_DIR=$dir/run
  cp "$CORPUS/$file" "$dir/$name.psd"
  psnr=- note=
  case $mode in
    RGB | Grayscale | CMYK | Lab | Indexed) ;;
    *) note="not rebuilt: $mode keeps its stored composite" ;;
  esac
  if [ -z "$note" ]; then
    if ! timeout 120 "$BIN/quorvix" -q -i "$dir/$name.psd" -o "$dir/stored" >/dev/null 2>&1; then
      note="stored picture not converted"
    elif ! timeout 120 "$BIN/quorvix" -i "$dir/$name.psd" -o "$dir/layers" --from-layers \
        2>"$dir/err" >/dev/null; then
      note="rebuild failed"
    else
      for side in stored layers; do
        convert "$dir/$side/$name.png" -background white -alpha remove -alpha off -depth 8 \
          "$dir/$side/flat.png"
      done
      psnr=$(compare -metric PSNR "$dir/stored/flat.png" "$dir/layers/flat.png" null: 2>&1 |
        awk '{print $1}')
      note=$(sed -n 's/^Not drawn in [^:]*: /not drawn: /p' "$dir/err" | head -n1)
    fi
  fi
  printf '%s\t%s\t%s\t%s\n' "$file" "$psnr" "$floor" "$note" >"$WORK/lines/$file"
  rm -rf "$dir"
}
export -f compare_one

header=$(head -n1 "$manifest")
column() { echo "$header" | tr '\t' '\n' | grep -nx "$1" | cut -d: -f1; }
awk -F'\t' -v f="$(column file)" -v m="$(column merged)" -v l="$(column layers)" \
  -v c="$(column composite)" -v mo="$(column mode)" -v s="$(column source_path)" \
  'NR > 1 && $m == "yes" && $c == "ok" && $l + 0 >= 2 {
    print $f, $mo, ($s ~ /adjustments/ ? 35 : 0) }' "$manifest" |
  while read -r file mode floor; do [ -f "$corpus/$file" ] && echo "$file $mode $floor"; done |
  xargs -P "$(nproc)" -n 3 bash -c 'compare_one "$0" "$1" "$2"'

total=0 agree=0 short=0
printf '%-40s %9s  %s\n' document PSNR/dB note
for line in "$work"/lines/*; do
  IFS=$'\t' read -r file psnr floor note <"$line"
  printf '%-40s %9s  %s\n' "$file" "$psnr" "$note"
  case $note in not\ rebuilt:*) continue ;; esac
  total=$((total + 1))
  case $psnr in
    inf) agree=$((agree + 1)) ;;
    -) ;;
    *) awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' && agree=$((agree + 1)) ;;
  esac
  if [ "$floor" != 0 ] && [ "$psnr" != inf ] &&
    ! awk -v p="$psnr" -v f="$floor" 'BEGIN { exit !(p != "-" && p >= f) }'; then
    echo "  $file: below the $floor dB its adjustment layers must reach"
    short=$((short + 1))
  fi
done
echo "agree at 40 dB or more: $agree of $total rebuilt"
if [ "$strict" = 1 ] && [ $((agree * 10)) -lt $((total * 9)) ]; then exit 1; fi
if [ "$strict" = 1 ] && [ "$short" -gt 0 ]; then exit 1; fi
exit 0
