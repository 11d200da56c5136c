#!/usr/bin/env bash
# The exit statuses of karven-cli as its --help lists them (the one list, from which
# help2man makes the manual page) against the companion's manual, the user guide, the
# manual page and the README:
#   - the companion's manual (docs/karven-cli.md) says the same under "## Exit status", word
#     for word (its `code` quotes aside);
#   - the guide, in Russian, gives the same statuses in the same order, and each of its rows
#     quotes the same commands and options as the manual's row (`diff`, `--port`, `-o` ...);
#   - the manual page has an EXIT STATUS section with the same statuses;
#   - the README links to the manual's table and holds no copy of it.
#
#   doc_tables.sh KARVEN_CLI MANUAL README GUIDE [MANPAGE]
set -u
cli=$1 manual=$2 readme=$3 guide=$4 manpage=${5:-}
bad=0
fail() { echo "doc_tables: $*" >&2; bad=1; }

# "status<TAB>meaning" lines from the help's "Exit status:" block: an item starts two
# blanks in, its continuation lines further in.
help_rows() {
  "$cli" --help | awk '
    /^Exit status:$/ { inside = 1; next }
    inside && /^$/ { exit }
    inside && /^  [^ ]/ { if (row != "") print row; sub(/^  /, ""); status = $1; sub(/^[^ ]+ +/, ""); row = status "\t" $0; next }
    inside && /^   / { sub(/^ +/, ""); row = row " " $0 }
    END { if (row != "") print row }'
}

# "status<TAB>meaning" lines of the Markdown table whose header line is $2 in file $1, and,
# when $3 is given, that comes first under the heading line $3.
table_rows() {
  awk -v header="$2" -v heading="${3:-}" '
    heading != "" && $0 == heading { under = 1; next }
    heading != "" && under && /^#/ { under = 0 }
    heading != "" && !under { next }
    $0 == header { inside = 1; next }
    inside && /^\|[-|]+\|$/ { next }
    inside && !/^\|/ { exit }
    inside {
      line = $0
      sub(/^\| */, "", line); sub(/ *\|$/, "", line)
      split(line, cell, / *\| */)
      print cell[1] "\t" cell[2]
    }' "$1"
}

# The `quoted` words of a text, sorted, one line.
quoted() { grep -o '`[^`]*`' <<<"$1" | sort | tr '\n' ' '; }

mapfile -t from_help < <(help_rows)
mapfile -t from_manual < <(table_rows "$manual" "| exit status | meaning |" "## Exit status")
mapfile -t from_guide < <(table_rows "$guide" "| код | значение |")

[ "${#from_help[@]}" -ge 6 ] || fail "karven-cli --help lists ${#from_help[@]} exit statuses"
[ "${#from_manual[@]}" -eq "${#from_help[@]}" ] \
  || fail "the companion's manual lists ${#from_manual[@]} exit statuses under \"## Exit status\", karven-cli --help ${#from_help[@]}"
[ "${#from_guide[@]}" -eq "${#from_help[@]}" ] \
  || fail "the guide lists ${#from_guide[@]} exit statuses, karven-cli --help ${#from_help[@]}"

for i in "${!from_help[@]}"; do
  status=${from_help[i]%%$'\t'*}
  manual_row=${from_manual[i]:-}
  guide_row=${from_guide[i]:-}
  [ "${manual_row//\`/}" = "${from_help[i]}" ] \
    || fail "status $status: the companion's manual says \"${manual_row#*$'\t'}\", karven-cli --help \"${from_help[i]#*$'\t'}\""
  [ "${guide_row%%$'\t'*}" = "$status" ] \
    || fail "row $((i + 1)) of the guide's table is status ${guide_row%%$'\t'*}, not $status"
  [ "$(quoted "${guide_row#*$'\t'}")" = "$(quoted "${manual_row#*$'\t'}")" ] \
    || fail "status $status: the guide quotes $(quoted "${guide_row#*$'\t'}")where the companion's manual quotes $(quoted "${manual_row#*$'\t'}")"
done

# The README points at the table and copies none of it: no row that begins with a status.
grep -qF "](docs/karven-cli.md#exit-status)" "$readme" \
  || fail "the README has no link to the companion's exit statuses (docs/karven-cli.md#exit-status)"
for row in "${from_help[@]}"; do
  status=${row%%$'\t'*}
  ! grep -qE "^\| *${status//+/\\+} *\|" "$readme" \
    || fail "the README copies the exit status $status instead of linking to the companion's manual"
done

if [ -n "$manpage" ] && [ ! -f "$manpage" ]; then
  echo "doc_tables: no $manpage (help2man missing?): the manual page is not checked"
  manpage=""
fi
if [ -n "$manpage" ]; then
  # help2man writes each status as the tag of a .TP paragraph.
  man_statuses=$(awk '
    /^\.SH "EXIT STATUS"$/ { inside = 1; next }
    inside && /^\.SH/ { exit }
    inside && tag { print; tag = 0; next }
    inside && /^\.TP$/ { tag = 1 }' "$manpage" | tr '\n' ' ')
  help_statuses=$(printf '%s\n' "${from_help[@]}" | cut -f1 | tr '\n' ' ')
  [ "$man_statuses" = "$help_statuses" ] \
    || fail "the manual page's EXIT STATUS lists \"$man_statuses\", karven-cli --help \"$help_statuses\""
fi

[ "$bad" -eq 0 ] || exit 1
echo "doc_tables: ${#from_help[@]} exit statuses agree in the help, the companion's manual, the guide${manpage:+ and the manual page}; the README links to them"
