#!/usr/bin/env bash
# Fails when a source file includes a project header or library outside what its folder may use.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2

# What the rest of the program may use of the engine: loading, the pixel steps, output, the image
# they pass along, the switch that stops a run's decoders and the decoder a batch worker keeps.
# Reading documents, the rest of the decoder's isolation and drawing stay inside.
engine_api="engine/loading/ engine/steps/ engine/output/ engine/image/
            engine/isolation/decoder_stop.h engine/isolation/kept_decoder.h"
# The decoder is a program of its own: no settings, no program state; of the isolation only the
# protocol and the record it writes.
decoder_uses="engine/isolation/decoder_protocol.h engine/isolation/decoded_bitmap.h engine/draw/
              engine/psd/ engine/image/ platform/"

# folder -> allowed project include prefixes (besides its own folder). A prefix may name a single
# header.
declare -A allowed=(
  [platform]=""
  [settings]="platform/"
  [texts]="settings/ platform/"
  [config]="settings/ platform/"
  [engine/image]="platform/"
  [engine/psd]="engine/image/ platform/"
  [engine/draw]="engine/image/ platform/"
  [engine/isolation]="engine/psd/ engine/image/ platform/"
  [engine/loading]="engine/isolation/ engine/psd/ engine/image/ platform/"
  [engine/output]="engine/image/ settings/ platform/"
  [engine/steps]="engine/draw/ engine/output/naming.h engine/image/ settings/ platform/"
  [decoder]="$decoder_uses"
  [core]="$engine_api settings/ platform/"
  [update]="config/ texts/ settings/ platform/"
  [themes]="config/ texts/ settings/ platform/"
  [cli]="settings/ core/ $engine_api config/ texts/ platform/"
  [gui]="settings/ core/ $engine_api config/ texts/ update/ themes/ platform/"
  [app]="settings/ core/ $engine_api config/ texts/ update/ themes/ platform/ cli/ gui/"
)
# External headers a folder must not reach. Colour profiles are untrusted input: only the decoder
# parses them. The pixel steps do no I/O.
declare -A forbidden_external=(
  [platform]="FreeImage.h cairo pango fontconfig wx/ archive png.h lcms2"
  [settings]="FreeImage.h cairo pango fontconfig wx/ archive png.h lcms2"
  [texts]="FreeImage.h cairo pango wx/ archive lcms2"
  [config]="FreeImage.h cairo pango wx/ archive lcms2"
  [engine/image]="cairo pango fontconfig wx/ archive png.h lcms2"
  [engine/psd]="FreeImage.h cairo pango fontconfig wx/ archive png.h lcms2"
  [engine/draw]="wx/ archive png.h lcms2"
  [engine/isolation]="cairo pango fontconfig wx/ archive png.h lcms2"
  [engine/loading]="cairo pango fontconfig wx/ archive png.h lcms2"
  [engine/output]="cairo pango fontconfig wx/ archive lcms2"
  [engine/steps]="wx/ archive png.h lcms2 fcntl.h unistd.h cstdio stdio.h fstream"
  [decoder]="wx/ archive png.h pango fontconfig"
  [core]="wx/ cairo pango FreeImage.h lcms2"
  [update]="wx/ FreeImage.h lcms2"
  [themes]="wx/ FreeImage.h lcms2"
  [cli]="wx/ FreeImage.h lcms2"
  [gui]="FreeImage.h lcms2"
  [app]="FreeImage.h lcms2"
)
folders="platform settings texts config engine/image engine/psd engine/draw engine/isolation
         engine/loading engine/output engine/steps decoder core update themes cli gui app"
# Files of app/ that belong to the console program, which never loads the window: they may not
# include gui/ (only the window program's own main does).
console_program_files="app/main.cpp app/start_up.cpp app/start_up.h app/make_docs_main.cpp"

failures=0
check_file() {
  local file=$1 layer=$2 own=$3
  local line header ok prefix
  while IFS= read -r line; do
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/' <<<"$line")
    case "$header" in
      platform/*|settings/*|core/*|engine/*|decoder/*|cli/*|config/*|texts/*|update/*|themes/*|gui/*|app/*)
        if [[ "$header" == gui/* && " $console_program_files " == *" $file "* ]]; then
          echo "$file: includes $header, but the console program never loads the window"
          failures=$((failures + 1))
          continue
        fi
        [[ "$header" == "$own"* ]] && continue
        ok=0
        for prefix in ${allowed[$layer]}; do
          [[ "$header" == "$prefix"* ]] && ok=1
        done
        if [ $ok -eq 0 ]; then
          echo "$file: includes $header, which $layer/ may not use"
          failures=$((failures + 1))
        fi
        ;;
      *)
        for prefix in ${forbidden_external[$layer]:-}; do
          if [[ "$header" == "$prefix"* ]]; then
            echo "$file: includes <$header>, which $layer/ may not use"
            failures=$((failures + 1))
          fi
        done
        ;;
    esac
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file")
}

for folder in $folders; do
  [ -d "$folder" ] || continue
  while IFS= read -r -d '' file; do
    check_file "$file" "$folder" "$folder/"
  done < <(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done

# Every engine source lies in a room, so that it has a row above.
while IFS= read -r -d '' file; do
  room=${file#engine/}
  room=engine/${room%%/*}
  if [[ "$file" != engine/*/* ]] || [ -z "${allowed[$room]+set}" ]; then
    echo "$file: lies in no room of engine/ with a row in this table"
    failures=$((failures + 1))
  fi
done < <(find engine -type f \( -name '*.h' -o -name '*.cpp' \) -print0 2>/dev/null)

if [ $failures -ne 0 ]; then
  echo "$failures forbidden include(s)"
  exit 1
fi
echo "layering: every include is allowed"
