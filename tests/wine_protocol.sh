#!/usr/bin/env bash
# The processing window's protocol made by the Windows build under Wine on a Z: path, read
# back with the Linux pdftotext: it holds every word and number the test expects.
#   wine_protocol.sh PREFIX DLL_DIRS --qtest PROGRAM
set -eu
command -v pdftotext >/dev/null || { echo "wine_protocol: no pdftotext (poppler-utils)"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
KARVEN_PROTOCOL_KEEP="Z:$out/протокол.pdf" bash "$(dirname "$0")/wine_run.sh" "$@" protocolReadsBack
pdf="$out/протокол.pdf"
[ -s "$pdf" ] || { echo "wine_protocol: the protocol was not written on the Z: path"; exit 1; }
text=$(pdftotext -layout -enc UTF-8 "$pdf" -)
missing=0
while IFS= read -r expected; do
  [ -n "$expected" ] || continue
  if ! grep -qF -- "$expected" <<<"$text"; then
    echo "wine_protocol: the protocol read back lacks \"$expected\""
    missing=1
  fi
done <"$pdf.expected"
[ "$missing" -eq 0 ] && echo "wine_protocol: $(wc -l <"$pdf.expected") expected texts read back from the PDF"
exit $missing
