#!/usr/bin/env bash
# File > Import in the real kesto program of a bookmark file written to trip the reading: data:
# pages whose media type is partly escaped next to an escape that does not decode, references
# from the Windows-1252 range, references padded with leading zeros, and addresses holding long
# runs of references, each followed by ordinary bookmarks. Scripts stay out and are counted as
# scripts, references read as a browser reads them, every other bookmark comes in, and the end
# of the import says so; files in other encodings are read whole, as a browser reads them; the
# links of an export whose TITLE or STYLE is never closed (a STYLE opened with "<!--" too) are
# told as not read; a SCRIPT or STYLE that begins with a list's end tag ends nothing, and a
# comment before a list names no folder.
# Usage: import-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3

file="$work/hostile.html"
python3 - "$file" <<'PY'
import sys
rows = [
    '<DT><A HREF="data:text/ht%6Dl;x=%FF,<script>alert(1)</script>">Escaped type</A>',
    '<DT><A HREF="data:text/ht%6Dl;%,<script>alert(2)</script>">Stray percent</A>',
    '<DT><A HREF="&#0000000000000000000000000000001;javascript:alert(3)">Padded control</A>',
    '<DT><A HREF="http://ok.example/&#x00000000000000000000000000000001;x">Padded in address</A>',
    '<DT><H3>Caf&#233; &#150; Bar</H3>',
    '<DL><p>',
    '<DT><A HREF="https://p.example/p&#150;q">It&#146;s &#128;5 &#133;</A>',
    '<DD>Notes &#147;quoted&#148;',
    '</DL><p>',
]
# Long runs of references, at five offsets against the reader's blocks, each followed by
# ordinary bookmarks.
for k in range(5):
    rows.append('<DT><A HREF="https://x.example/pppp%d?' % k + '&#38;' * 1200 + '">Long ' + 'x' * k + '</A>')
    rows += ['<DT><A HREF="https://after-%d-%d.example/">After %d %d</A>' % (k, i, k, i) for i in range(4)]
rows.append('<DT><A HREF="data:' + '&Tab;' * 1000 + ',tabbed">Tabs</A>')
rows += ['<DT><A HREF="https://last-%d.example/">Last %d</A>' % (i, i) for i in range(4)]
open(sys.argv[1], "w").write(
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n" + "\n".join(rows) + "\n</DL><p>\n")
PY

e2e_offline_settings
e2e_start_kesto
e2e_close_first_run_panel || fail "no first-run panel"
e2e_import_file "$file"
said="$(e2e_wait_window '^Import (complete|incomplete)$' 60)" || fail "the import did not end"
[[ -n "$shots" ]] && mkdir -p "$shots" && e2e_screenshot "$shots/import-end.png"
e2e_key "$said" Return

count() { e2e_sql "select count(*) from ZBOOKMARK $1"; }
all_in() { [[ "$(count "where ZIMPORTEDFROM = 'HTML File'")" == 32 ]]; }
e2e_wait_until 60 all_in || true  # told below with the rest
gone() { ! xdotool getwindowname "$said" >/dev/null 2>&1; }
e2e_wait_until 60 gone || true
url_of() { e2e_sql "select ZURL from ZBOOKMARK where ZTITLE = '$1'"; }
problems=()
check() { [[ "$2" == "$3" ]] || problems+=("$1: '$2', not '$3'"); }
check "imported" "$(count "where ZIMPORTEDFROM = 'HTML File'")" 32
check "scripts stored" "$(count "where ZURL like 'data:text/html%' or ZURL like '%javascript:%'")" 0
check "padded address" "$(url_of 'Padded in address')" "http://ok.example/x"
check "folder" "$(e2e_sql "select count(*) from ZFOLDER where ZNAME = 'Café – Bar'")" 1
check "Windows-1252 address" "$(url_of 'It’s €5 …')" "https://p.example/p–q"
check "Windows-1252 notes" "$(e2e_sql "select ZNOTES from ZBOOKMARK where ZTITLE = 'It’s €5 …'")" "Notes “quoted”"
runs="$(printf '&%.0s' $(seq 1200))"
check "long addresses" "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL in ('https://x.example/pppp0?$runs',
  'https://x.example/pppp1?$runs', 'https://x.example/pppp2?$runs', 'https://x.example/pppp3?$runs',
  'https://x.example/pppp4?$runs') and ZTITLE like 'Long%'")" 5
check "bookmarks after them" "$(count "where ZURL like 'https://after-%' or ZURL like 'https://last-%'")" 24
check "tabs" "$(url_of 'Tabs')" "data:,tabbed"
check "end of the import" "$(xdotool getwindowname "$said" 2>/dev/null || echo gone)" "gone"
logged() { grep -rqs "3 entries were left out: 3 scripts" "$work/kesto.log" "$XDG_STATE_HOME/kesto/logs"; }
e2e_wait_until 60 logged || problems+=("the three scripts were not counted as scripts")
grep -rqs "could not be read" "$work/kesto.log" "$XDG_STATE_HOME/kesto/logs" && problems+=("entries were told unread")
if ((${#problems[@]})); then
  e2e_sql "select ZTITLE, substr(ZURL, 1, 60) from ZBOOKMARK" >&2
  fail "$(printf '%s; ' "${problems[@]}")"
fi

# Files in other encodings are read whole, as a browser reads them: bytes Shift_JIS cannot read
# become U+FFFD, Windows-1252's undefined bytes are read, an empty comment "<!-->" hides nothing.
sjis="$work/sjis.html"
printf '<META CHARSET="shift_jis"><DL><DT><A HREF="https://cut-before.example/">Before</A>
<DT><A HREF="https://cut-x.example/">\x81\x20\xff\xfe bytes</A>
<DT><A HREF="https://cut-a.example/">A</A><DT><A HREF="https://cut-b.example/">B</A>
<DT><A HREF="https://cut-c.example/">C</A></DL>\n' >"$sjis"
cp1252="$work/cp1252.html"
printf '<META CHARSET="windows-1252"><DL><p><!--><DT><A HREF="https://c1-a.example/">\x81\x8d\x8f\x90\x9d</A>
<DT><A HREF="https://c1-b.example/">caf\xe9</A></DL>\n' >"$cp1252"
# Each file's bookmarks waited for, then no end notice looked for once the program caught up:
# an import that left nothing out says nothing.
for file in "$sjis" "$cp1252"; do
  e2e_import_file "$file"
  [[ "$file" == "$sjis" ]] && pattern='https://cut-%' n=5 || pattern='https://c1-%' n=2
  read_file() { [[ "$(count "where ZURL like '$pattern'")" == "$n" ]]; }
  e2e_wait_until 60 read_file || fail "$(basename "$file") was not read whole: $(count "where ZURL like '$pattern'") of $n"
  e2e_caught_up "$win" || fail "kesto did not answer"
  if said="$(xdotool search --onlyvisible --name '^Import (complete|incomplete)$' 2>/dev/null | head -n1)" && [[ -n "$said" ]]; then
    fail "the import of $(basename "$file") ended with '$(xdotool getwindowname "$said")'"
  fi
done
read_whole() { [[ "$(count "where ZURL like 'https://cut-%' or ZURL like 'https://c1-%'")" == 7 ]]; }
e2e_wait_until 60 read_whole || fail "files in other encodings were not read whole: $(count "where ZURL like 'https://cut-%' or ZURL like 'https://c1-%'") of 7"
check "Shift_JIS title" "$(url_of '� �� bytes')" "https://cut-x.example/"
check "Windows-1252 title" "$(url_of 'café')" "https://c1-b.example/"
grep -rqs "could not be read" "$work/kesto.log" "$XDG_STATE_HOME/kesto/logs" && problems+=("entries were told unread")
((${#problems[@]})) && fail "$(printf '%s; ' "${problems[@]}")"

# A folder whose list opens with a DIV left unclosed: all 21 bookmarks come in, ten in the
# folder and eleven around it, as a browser reads them.
div="$work/div-in-folder.html"
{
  printf '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Marked up</H1>\n<DL><p>\n'
  printf '<DT><A HREF="https://div-first.example/">First</A>\n<DT><H3>F</H3>\n<DL><p>\n<DIV>\n'
  for i in $(seq 1 10); do printf '<DT><A HREF="https://div-in-%d.example/">In %d</A>\n' "$i" "$i"; done
  printf '</DL><p>\n'
  for i in $(seq 1 10); do printf '<DT><A HREF="https://div-after-%d.example/">After %d</A>\n' "$i" "$i"; done
  printf '</DL><p>\n'
} >"$div"
e2e_import_file "$div"
in_folder() { e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where b.ZURL like 'https://div-%' and f.ZNAME = '$1'"; }
all_in() { [[ "$(count "where ZURL like 'https://div-%'")" == 21 ]]; }
e2e_wait_until 60 all_in || fail "the DIV file stored $(count "where ZURL like 'https://div-%'") of 21 bookmarks"
check "in the folder" "$(in_folder F)" 10
check "around it" "$(in_folder 'Marked up')" 11
[[ -n "$shots" ]] && e2e_screenshot "$shots/div-in-folder.png"
((${#problems[@]})) && fail "$(printf '%s; ' "${problems[@]}")"

# A 2,000-bookmark export in which an element opens and is never closed: a browser reads the rest
# of the file as its text, so none of the bookmarks after it is stored, and the end of the import
# tells them unread (it is no complete import).
unclosed_export() {  # name title-line opening-before-bookmark(0: none) opening stored logged
  local name="$1" file="$work/open-$1.html" logged="$6" said i
  {
    printf '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n%s\n<H1>Bookmarks</H1>\n<DL><p>\n' "$2"
    for i in $(seq 1 2000); do
      ((i == $3)) && printf '%s\n' "$4"
      printf '<DT><A HREF="https://open-%s-%d.example/">T %d</A>\n' "$name" "$i" "$i"
    done
    printf '</DL><p>\n'
  } >"$file"
  e2e_import_file "$file"
  if said="$(e2e_wait_window '^Import (complete|incomplete)$' 60)"; then
    check "unclosed $name told" "$(xdotool getwindowname "$said")" "Import incomplete"
    [[ -n "$shots" ]] && e2e_screenshot "$shots/open-$name.png"
    e2e_key "$said" Return
  else
    problems+=("the import of an unclosed $name told nothing")
  fi
  told() { grep -rqs "$logged" "$work/kesto.log" "$XDG_STATE_HOME/kesto/logs"; }
  e2e_wait_until 60 told || problems+=("the links in the unclosed $name were not counted")
  check "unclosed $name stored" "$(count "where ZURL like 'https://open-$name-%'")" "$5"
  check "its import folder" "$(e2e_sql "select count(*) from ZFOLDER where ZNAME = 'open-$name.html'")" 1
}
# The title, never closed: all 2,000 are its text.
unclosed_export title '<TITLE>Bookmarks' 0 '' 0 "2000 entries could not be read"
# A STYLE opened before the 1,001st: 1,000 stored (it was told "Import complete").
unclosed_export style '<TITLE>Bookmarks</TITLE>' 1001 '<STYLE>' 1000 "1000 links stand in the text of a <style>"
((${#problems[@]})) && fail "$(printf '%s; ' "${problems[@]}")"
# Opened with a comment's start, as style blocks have begun for decades: it hides none of them.
# (Every file below is imported before what was seen is told.)
unclosed_export style-comment '<TITLE>Bookmarks</TITLE>' 1001 '<STYLE><!--' 1000 "1000 links stand in the text of a <style>"
unclosed_export style-first '<TITLE>Bookmarks</TITLE>' 1 '<style><!--' 0 "2000 links stand in the text of a <style>"

# A SCRIPT and a STYLE whose text begins with an end tag of the list they stand in end nothing:
# each folder keeps its bookmarks and its subfolder, and the link written in them is no bookmark.
# A comment before the list names no folder: the heading before it does.
raw="$work/raw-text.html"
{
  printf '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Raw top</H1>\n<!--'
  for i in $(seq 1 300); do printf '<DT><A HREF="https://raw-old-%d.example/">Old %d</A>\n' "$i" "$i"; done
  printf -- '-->\n<DL><p>\n'
  for kind in script STYLE; do
    printf '<DT><H3>F-%s</H3>\n<DL><p>\n<DT><A HREF="https://raw-%s-before.example/">Before</A>\n' "$kind" "$kind"
    printf '<%s></DL></DL><DT><A HREF="https://raw-%s-inside.example/">In</A></%s>\n' "$kind" "$kind" "$kind"
    printf '<DT><A HREF="https://raw-%s-after.example/">After</A>\n<DT><H3>G-%s</H3>\n<DL><p>\n' "$kind" "$kind"
    printf '<DT><A HREF="https://raw-%s-g.example/">G</A>\n</DL><p>\n</DL><p>\n' "$kind"
  done
  printf '<DT><A HREF="https://raw-out.example/">Out</A>\n</DL><p>\n'
} >"$raw"
e2e_import_file "$raw"
raw_in() { [[ "$(count "where ZURL like 'https://raw-%'")" == 7 ]]; }
e2e_wait_until 60 raw_in || problems+=("the SCRIPT and STYLE file stored $(count "where ZURL like 'https://raw-%'") of 7 bookmarks")
e2e_caught_up "$win" || fail "kesto did not answer"
folder_of() { e2e_sql "select f.ZNAME from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where b.ZURL = '$1'"; }
parent_of() { e2e_sql "select p.ZNAME from ZFOLDER f join ZFOLDER p on p.ZFOLDERID = f.ZPARENTFOLDERID where f.ZNAME = '$1'"; }
for kind in script STYLE; do
  check "before the $kind" "$(folder_of "https://raw-$kind-before.example/")" "F-$kind"
  check "after the $kind" "$(folder_of "https://raw-$kind-after.example/")" "F-$kind"
  check "subfolder after the $kind" "$(parent_of "G-$kind")" "F-$kind"
  check "link in the $kind" "$(count "where ZURL = 'https://raw-$kind-inside.example/'")" 0
done
check "after both" "$(folder_of https://raw-out.example/)" "Raw top"
check "the comment's links" "$(count "where ZURL like 'https://raw-old-%'")" 0
check "a folder named by the comment" "$(e2e_sql "select count(*) from ZFOLDER where ZNAME like '%<DT>%'")" 0
check "the top folder" "$(parent_of "Raw top")" "raw-text.html"
[[ -n "$shots" ]] && e2e_screenshot "$shots/raw-text.png"
((${#problems[@]})) && fail "$(printf '%s; ' "${problems[@]}")"
e2e_quit_kesto
echo "hostile bookmark file: ok"
