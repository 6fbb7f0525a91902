#!/usr/bin/env bash
# Builds the seed folders of the fuzz targets from the end-to-end cases and the expression tests:
#   seeds.sh OUT  makes OUT/roundtrip, OUT/expand, OUT/expression and OUT/preprocess.
# The input formats are those of the targets (parts separated by NUL bytes):
#   roundtrip   an XML text
#   expand      macro list, NUL, text
#   expression  an expression text
#   preprocess  main document, NUL, a.xml, NUL, b.xml, NUL, macro list
#   lsp         a stream of framed language server messages
#   transport   a byte (the size of the pieces the reader is given), then such a stream
#   features    three bytes (the request, its line and character), then a main document
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$1
CASES=$ROOT/tests/cases
rm -rf "$OUT"
mkdir -p "$OUT"/{roundtrip,expand,expression,preprocess,lsp,transport,features}

lsp_message() {  # lsp_message BODY: the body with its Content-Length header (in bytes)
  local LC_ALL=C
  printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"
}

seed() {  # seed TARGET: stdin becomes one seed file, named by its hash as libFuzzer names units
  local tmp="$OUT/$1/.new"
  cat > "$tmp"
  mv "$tmp" "$OUT/$1/$(sha1sum < "$tmp" | cut -c1-40)"
}

for dir in "$CASES"/*/ "$ROOT"/examples/*/; do
  dir=${dir%/}
  name=$(basename "$dir")
  # Every XML file of the case (inputs, include files, expected outputs).
  while IFS= read -r -d '' file; do
    seed roundtrip < "$file"
  done < <(find "$dir" -type f -name '*.xml' -size -64k -print0)

  input="" list=""
  if [ -f "$dir/args" ]; then
    input=$(sed -n 1p "$dir/args")
    list=$(sed -n 3p "$dir/args")
  fi
  if [ -z "$input" ] || [ ! -f "$dir/$input" ]; then
    input=$(cd "$dir" && find . -maxdepth 1 -type f -name '*.xml' ! -name expected.xml |
      sed 's|^\./||' | sort | head -1)
  fi
  if [ -z "$input" ] || [ ! -f "$dir/$input" ]; then continue; fi

  { printf '%s\0' "$list"; cat "$dir/$input"; } | seed expand

  # The main document and up to two more files of the case, renamed a.xml and b.xml; references to
  # their old names are renamed to match.
  mapfile -t others < <(cd "$dir" && find . -type f -name '*.xml' ! -name expected.xml \
    ! -path "./$input" -size -16k | sed 's|^\./||' | sort | head -2)
  rename=()
  letters=(a b)
  for i in "${!others[@]}"; do
    old=$(printf '%s' "${others[$i]}" | sed 's/[.[\*^$/]/\\&/g')
    rename+=(-e "s/$old/${letters[$i]}.xml/g")
  done
  part() { if [ -n "$1" ] && [ -f "$dir/$1" ]; then sed "${rename[@]}" -e '' "$dir/$1"; fi; }
  {
    part "$input"
    printf '\0'
    part "${others[0]:-}"
    printf '\0'
    part "${others[1]:-}"
    printf '\0%s' "$list"
  } | seed preprocess

  # Documents made to exhaust memory are left out of the server's seeds: such a seed would only
  # measure how long the fuzzer takes to fill its memory limit.
  if [ -f "$dir/check" ] && grep -q "out of memory" "$dir/check"; then continue; fi
  # A request picked by the case's name, on its second line.
  pick=$(( $(printf '%s' "$name" | cksum | cut -d' ' -f1) % 7 ))
  { printf "\\$(printf '%03o' "$pick")\\001\\004"; head -c 4000 "$dir/$input"; } | seed features
  # A session on the main document: open it, ask about its first lines, change it, preview it.
  text=$(head -c 4000 "$dir/$input" | tr -d '\0' |
    sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' -e 's/\t/\\t/g' -e 's/\r/\\r/g' |
    awk '{printf "%s\\n", $0}')
  uri=file:///fuzz-lsp/in.xml
  {
    lsp_message '{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"'$uri'","version":1,"text":"'"$text"'"}}}'
    for method in hover definition references completion; do
      lsp_message '{"jsonrpc":"2.0","id":1,"method":"textDocument/'$method'","params":{"textDocument":{"uri":"'$uri'"},"position":{"line":1,"character":12}}}'
    done
    lsp_message '{"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"'$uri'","version":2},"contentChanges":[{"range":{"start":{"line":1,"character":2},"end":{"line":2,"character":0}},"text":"<if A=\"1\">$(A)</if>"}]}}'
    lsp_message '{"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"'$uri'"}}}'
    lsp_message '{"jsonrpc":"2.0","id":3,"method":"xmlpp/preview","params":{"textDocument":{"uri":"'$uri'"}}}'
  } | seed lsp
done

# Expressions: the values of the expression attributes in the cases, the inputs of the expression
# tests, and a few written here.
{
  grep -rhoE '(expression|hex_expression|start|end|incr|add|sub|mul)="[^"]*"' "$CASES" |
    sed -E 's/^[a-z_]+="(.*)"$/\1/' || true
  grep -rhoE '<ifex [^>]*' "$CASES" | grep -oE '="[^"]*"' | sed -E 's/^="(.*)"$/\1/' || true
} | sed -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' -e "s/&apos;/'/g" -e 's/&amp;/\&/g' |
  sort -u | while IFS= read -r text; do printf '%s' "$text" | seed expression; done
sed -n 's/^ *{"\(\([^"\\]\|\\.\)*\)".*/\1/p' "$ROOT/tests/expr_test.cpp" | sort -u |
  while IFS= read -r text; do printf '%b' "${text//\\\"/\"}" | seed expression; done
for text in '1 + 2 * 3' '(1 < 2) && (3 >= 2)' '0xFFFFFFFF + 1' '-9223372036854775807 - 1' \
  '1.5e3 * 2' '"abc" == "abc"' "'a' + 1" '~0ULL >> 63' '(unsigned char)300' 'sizeof(long long)' \
  '1 ? 2 : 3' '10 / 0' '10 % 0' '(-9223372036854775807 - 1) / -1' '1 << 64' '0b1011 ^ 7' \
  '!(1 == 2) || 0' '(double)1 / 3' '(int)-1.5e300' "$(printf '%.0s(' {1..600})1"; do
  printf '%s' "$text" | seed expression
done

# The transport's seeds: the sessions above, read in pieces of 1, 7 and 64 bytes.
for session in "$OUT"/lsp/*; do
  for piece in 000 006 077; do
    { printf "\\$piece"; cat "$session"; } | seed transport
  done
done

for target in roundtrip expand expression preprocess lsp transport features; do
  printf '%-11s %5d seeds\n' "$target" "$(find "$OUT/$target" -type f | wc -l)"
done
