#!/usr/bin/env bash
# Runs the examples of the documentation and compares what the tool does with what the text shows,
# byte for byte, so that the two cannot drift apart.
#
#   tests/docs/examples.sh TOOL FILE.md...
#
# An example is marked in the Markdown source (the marks do not show when it is rendered):
#   <!-- example: NAME -->  starts an example; it ends at the next example or heading
#   Macros: `LIST`          the macro list of the default command
#   ```LANG FILE            a block written to FILE (a relative path) in the example's folder
#   ```LANG out.xml         the bytes the command must leave in out.xml
#   ```LANG stdout          what the command must print on standard output
#   ```LANG stderr          what it must print on standard error; the run must then fail with
#                           status 1 (without such a block it must succeed and print nothing there)
#   ```sh command           the command, run by bash in the folder with TOOL as "xmlpp" on PATH;
#                           the default is: xmlpp in.xml out.xml "LIST" (or without LIST)
set -uo pipefail

tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-doc-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$tool" "$work/bin/xmlpp"
export PATH="$work/bin:$PATH"
# The documentation shows runs without these (and make runs of its own).
unset XMLPP_DEPFILE SOURCE_DATE_EPOCH MAKEFLAGS MFLAGS MAKELEVEL

failures=0
count=0

# Runs the example collected in $dir (named $name, from $doc).
run_example() {
  [ -n "$name" ] || return 0
  count=$((count + 1))
  local command
  if [ -f "$dir/.command" ]; then
    command=$(cat "$dir/.command")
  elif [ -n "$macros" ]; then
    command="xmlpp in.xml out.xml $(printf %q "$macros")"
  else
    command="xmlpp in.xml out.xml"
  fi
  local status=0
  (cd "$dir/files" && bash -c "$command" >"$dir/.stdout" 2>"$dir/.stderr") || status=$?
  local problems=()
  if [ -f "$dir/.want-stderr" ]; then
    [ "$status" = 1 ] || problems+=("exit status $status, not 1")
    cmp -s "$dir/.want-stderr" "$dir/.stderr" || problems+=("standard error differs")
  else
    [ "$status" = 0 ] || problems+=("exit status $status")
    [ ! -s "$dir/.stderr" ] || problems+=("standard error is not empty")
  fi
  if [ -f "$dir/.want-stdout" ]; then
    cmp -s "$dir/.want-stdout" "$dir/.stdout" || problems+=("standard output differs")
  fi
  if [ -f "$dir/.want-out.xml" ]; then
    cmp -s "$dir/.want-out.xml" "$dir/files/out.xml" || problems+=("out.xml differs")
  fi
  if [ "${#problems[@]}" -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL: $doc, example \"$name\": ${problems[*]}"
    echo "  command: $command"
    for stream in stdout stderr out.xml; do
      local got=$dir/.$stream
      [ "$stream" = out.xml ] && got=$dir/files/out.xml
      [ -f "$got" ] || got=/dev/null
      if [ -f "$dir/.want-$stream" ]; then
        diff -u --label "$stream as documented" --label "$stream of the tool" \
          "$dir/.want-$stream" "$got" | sed 's/^/  /'
      elif [ "$stream" = stderr ] && [ -s "$got" ]; then
        sed 's/^/  stderr: /' "$got"
      fi
    done
  fi
  name=
}

for doc in "$@"; do
  name= dir= macros= target= fence= file=
  while IFS= read -r line || [ -n "$line" ]; do
    if [ -n "$fence" ]; then
      if [ "$line" = "$fence" ]; then
        fence=
      elif [ -n "$target" ]; then
        printf '%s\n' "$line" >>"$target"
      fi
      continue
    fi
    case $line in
      '<!-- example: '*' -->')
        run_example
        name=${line#'<!-- example: '}
        name=${name%' -->'}
        dir=$work/$count
        mkdir -p "$dir/files"
        macros=
        ;;
      '#'*) run_example ;;
      'Macros: `'*'`')
        macros=${line#'Macros: `'}
        macros=${macros%'`'}
        ;;
      '```'*)
        fence='```'
        target=
        read -r _ file _ <<<"${line#'```'} "
        if [ -n "$name" ] && [ -n "$file" ]; then
          case $file in
            out.xml | stdout | stderr) target=$dir/.want-$file ;;
            command) target=$dir/.command ;;
            *)
              target=$dir/files/$file
              mkdir -p "$(dirname "$target")"
              ;;
          esac
          : >"$target"
        fi
        ;;
    esac
  done <"$doc"
  run_example
done

if [ "$count" = 0 ]; then
  echo "FAIL: no examples found in $*"
  exit 1
fi
[ "$failures" = 0 ] || exit 1
echo "documentation examples: $count ok"
