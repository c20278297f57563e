#!/usr/bin/env bash
# Fails when a source file includes a project header or library outside what its folder may use.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2

# folder -> allowed project include prefixes (besides its own folder) and external headers.
declare -A allowed=(
  [platform]=""
  [settings]="platform/"
  [texts]="settings/ platform/"
  [config]="settings/ platform/"
  [engine]="settings/ platform/"
  [core]="engine/ settings/ platform/"
  [update]="config/ texts/ settings/ platform/"
  [themes]="config/ texts/ settings/ platform/"
  [cli]="settings/ core/ engine/ config/ texts/ platform/"
  [gui]="settings/ core/ engine/ config/ texts/ update/ themes/ platform/"
  [app]="settings/ core/ engine/ config/ texts/ update/ themes/ platform/ cli/ gui/"
)
# External libraries a folder must not reach.
declare -A forbidden_external=(
  [platform]="FreeImage.h cairo pango fontconfig wx/ archive png.h"
  [settings]="FreeImage.h cairo pango fontconfig wx/ archive png.h"
  [texts]="FreeImage.h cairo pango wx/ archive"
  [config]="FreeImage.h cairo pango wx/ archive"
  [engine]="wx/ archive"
  [core]="wx/ cairo pango FreeImage.h"
  [update]="wx/ FreeImage.h"
  [themes]="wx/ FreeImage.h"
  [cli]="wx/ FreeImage.h"
  [gui]="FreeImage.h"
  [app]="FreeImage.h"
)
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
      platform/*|settings/*|core/*|engine/*|cli/*|config/*|texts/*|update/*|themes/*|gui/*|app/*)
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

for folder in platform settings texts config engine core update themes cli gui app; do
  [ -d "$folder" ] || continue
  while IFS= read -r -d '' file; do
    layer=$folder
    own="$folder/"
    check_file "$file" "$layer" "$own"
  done < <(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done

if [ $failures -ne 0 ]; then
  echo "$failures forbidden include(s)"
  exit 1
fi
echo "layering: every include is allowed"
