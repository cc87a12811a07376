#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: a library whose smart folder compares with a
# real ('addedDate > CAST(0.5, "NSDate")') shows the folder's bookmarks when the folder is
# clicked, in C.UTF-8 and in a language that writes a decimal comma (LANG and LC_ALL de_DE.UTF-8,
# or the first such locale installed), and the log names no predicate that does not parse.
# Skipped (exit 77) when no locale with a decimal comma is installed.
# Usage: smart-folder-locale-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-smart-folder-locale}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3 locale
fail() { echo "FAIL: $*" >&2; e2e_screenshot "$shots/failed.png" 2>/dev/null; tail -n 40 "$work/kesto.log" >&2 2>/dev/null; exit 1; }

comma=""
for name in de_DE fr_FR es_ES it_IT nl_NL pl_PL ru_RU tr_TR; do
  if locale -a 2>/dev/null | grep -qix "$name\.utf-\?8"; then comma="$name.UTF-8"; break; fi
done
[[ -n "$comma" ]] || { echo "skipped: no locale with a decimal comma is installed"; exit 77; }

e2e_offline_settings
e2e_start_kesto
e2e_sample_library
e2e_quit_by_key

# The smart folder, written while kesto is not running; it is the ninth row of the folder list
# (after Library, Inbox, Delicious, Pinboard, Imported, Apple, Search and Kesto).
predicate='addedDate > CAST(0.5, "NSDate")'
folder_ent="$(e2e_sql "select Z_ENT from Z_PRIMARYKEY where Z_NAME = 'Folder'")"
pk=$(( $(e2e_sql 'select max(Z_PK) from ZFOLDER') + 1 ))
e2e_sql <<SQL || fail "seeding"
insert into ZFOLDER (Z_PK, Z_ENT, Z_OPT, ZFOLDERID, ZPARENTFOLDERID, ZNAME, ZORDERINDEX, ZVERSION, ZISEXPANDED,
                     ZISSMART, ZPREDICATE, ZCOLOR, ZBLOCKED)
  values ($pk, $folder_ent, 1, 'smart-since-2001', 'root', 'Since 2001', 99, 1, 0, 1, '$predicate', 'smart', 0);
update Z_PRIMARYKEY set Z_MAX = $pk where Z_NAME = 'Folder';
SQL

# A bookmark's cell covers the list where an empty list shows its background.
shows_bookmarks() { [[ "$(e2e_pixel 700 300 "$win")" != "$(e2e_pixel 245 300 "$win")" ]]; }
# The row is clicked once it is drawn (its icon on the list's background), and after the Inbox
# row: the last run left it selected, and a second click on a selected row starts renaming it.
row_drawn() { [[ "$(e2e_pixel 52 350 "$win")" != "$(e2e_pixel 52 450 "$win")" ]]; }
selected() { e2e_setting_is currentlySelectedFolder smart-since-2001; }
not_selected() { ! selected; }
for language in C.UTF-8 "$comma"; do
  export LANG="$language" LC_ALL="$language"
  e2e_start_kesto
  e2e_wait_until 60 row_drawn || fail "$language: the smart folder has no row"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  e2e_click "$win" 90 210
  e2e_wait_until 60 not_selected || fail "$language: the Inbox row was not selected"
  e2e_click "$win" 90 350
  e2e_wait_until 60 selected || fail "$language: the smart folder's row was not selected"
  e2e_wait_until 60 shows_bookmarks || fail "$language: the smart folder shows no bookmarks"
  e2e_screenshot "$shots/smart-folder-$language.png" "$win"
  ! grep -q 'does not parse' "$work/kesto.log" || fail "$language: $(grep 'does not parse' "$work/kesto.log" | tail -1)"
  e2e_quit_by_key
done
[[ "$(e2e_sql "select ZPREDICATE from ZFOLDER where ZFOLDERID = 'smart-since-2001'")" == "$predicate" ]] ||
  fail "the stored predicate changed"
echo "ok: the smart folder shows its bookmarks in C.UTF-8 and $comma"
