#!/usr/bin/env bash
# The stand-ins' document filter: the demo's documents, text through and
# through, keep their text; a document it cannot read goes to a real
# converter (pdftotext for PDF) where one is installed, and otherwise the
# filter says it has no converter for the type and writes no text, never
# the file's bytes.
# Arguments: FILTER DEMO_DOCUMENTS
. "$(dirname "$0")/common.sh"
filter="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
documents="$2"

# A PDF as real ones are: its page's words in a compressed stream.
python3 - "$scratch/real.pdf" <<'PY'
import sys, zlib
page = zlib.compress(b"BT /F1 24 Tf 72 720 Td (Compressed words of the page) Tj ET")
objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
           b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R"
           b" /Resources << /Font << /F1 5 0 R >> >> >>",
           b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(page) + page + b"\nendstream",
           b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for number, body in enumerate(objects, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(sys.argv[1], "wb").write(bytes(out))
PY
printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\x00\x00binary record Some words here\x00\x01' >"$scratch/report.doc"
printf 'abcd\x00\x01\x02efgh ijkl\x7f\x80' >"$scratch/data.bin"

# The converter is found along PATH; a PATH without it leaves none.
with_converter="$PATH"
without="/nonexistent"
if ! command -v pdftotext >/dev/null; then
  echo "pdftotext is not installed (scripts/bootstrap installs poppler-utils): the converter's row is left out"
  with_converter=""
fi
# The demo's PDF, read by the filter itself, with or without a converter.
for path in "$without" "$PATH"; do
  PATH="$path" "$filter" --body-only "$documents/report.pdf" >"$scratch/out" || fail "the demo's PDF: status $?"
  printf 'Quarterly gathering report\nThe gatherer summarized 1,204 documents (38 new) this quarter.\n' |
    cmp -s - "$scratch/out" || fail "the demo's PDF: $(cat -A "$scratch/out")"
done
# case|PATH|option|document|status|standard output|what standard error holds
rows=(
  "a real PDF, no converter|$without|--body-only|$scratch/real.pdf|1||no converter for PDF documents: $scratch/real.pdf"
  "a real PDF, the whole text, no converter|$without||$scratch/real.pdf|1||no converter for PDF documents"
  "a compound document|$with_converter||$scratch/report.doc|1||no converter for compound (Word, Excel, PowerPoint) documents"
  "bytes of no known type|$with_converter||$scratch/data.bin|1||no converter for this type of documents"
)
[ -z "$with_converter" ] ||
  rows+=("a real PDF through pdftotext|$with_converter|--body-only|$scratch/real.pdf|0|Compressed words of the page|")
for row in "${rows[@]}"; do
  IFS='|' read -r name path option document expected out says <<<"$row"
  [ -n "$path" ] || continue
  got=0
  (cd "$scratch" && PATH="$path" "$filter" $option "$document" >"$scratch/out" 2>"$scratch/err") || got=$?
  [ "$got" = "$expected" ] || fail "$name: status $got: $(cat "$scratch/err")"
  if [ -z "$out" ]; then
    [ ! -s "$scratch/out" ] || fail "$name: wrote $(cat -A "$scratch/out")"
  else
    grep -qxF "$out" "$scratch/out" || fail "$name: $(cat -A "$scratch/out")"
  fi
  [ -z "$says" ] || grep -qF "$says" "$scratch/err" || fail "$name: standard error: $(cat "$scratch/err")"
done
echo "the document filter: ${#rows[@]} documents"
