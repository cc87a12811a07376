#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: a library with tags, visits, a duplicate, a
# broken link, a colour label and a trash is shown in each of the sidebar's six tabs, chosen with
# the mouse (a screenshot of each is kept); a tag row shows its bookmarks, a tag is renamed from
# its context menu and another deleted with the Delete key; the broken link is found and removed
# from the maintenance list; Empty Trash is chosen and confirmed, and the store and the tombstone
# list are checked after quitting.
# Usage: lists-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-sidebar}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
# The whole log stays beside the screenshots.
fail() { echo "FAIL: $*" >&2; tail -n 40 "$work/kesto.log" >&2 2>/dev/null; cp "$work/kesto.log" "$shots/" 2>/dev/null; exit 1; }

e2e_offline_settings

# The first start offers the default library of eight bookmarks; it is made when asked for.
e2e_start_kesto
e2e_sample_library
[[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 8 ]] || fail "the sample library is not eight bookmarks"
e2e_quit_by_key

# What the lists are to show, written while kesto is not running. Store dates count seconds
# from 2001-01-01.
now=$(( $(date +%s) - 978307200 ))
tag_ent="$(e2e_sql "select Z_ENT from Z_PRIMARYKEY where Z_NAME = 'Tag'")"
e2e_sql <<SQL || fail "seeding"
insert into ZTAG (Z_PK, Z_ENT, Z_OPT, ZNAME) values (1, $tag_ent, 1, 'news'), (2, $tag_ent, 1, 'search');
update Z_PRIMARYKEY set Z_MAX = 2 where Z_NAME = 'Tag';
insert into Z_1TAGS (Z_1BOOKMARKS, Z_3TAGS) values (1, 1), (2, 1), (4, 2), (5, 2), (6, 2);
update ZBOOKMARK set ZLASTOPENED = $now - 60, ZTIMESOPENED = 3 where Z_PK in (1, 4);
update ZBOOKMARK set ZURL = 'https://www.bing.com/' where Z_PK = 6;
update ZBOOKMARK set ZBROKEN = 1 where Z_PK = 1;
update ZBOOKMARK set ZCOLOR = 'blue', ZRATING = 5 where Z_PK = 4;
update ZBOOKMARK set ZTRASHED = 1 where Z_PK in (2, 3);
SQL

e2e_start_kesto
e2e_caught_up "$win" || fail "kesto did not answer"
# The six tab buttons sit in a row at the top of the sidebar.
tab_y=87
names=(folders tags history popular maintenance trash)
xs=(18 55 91 128 164 201)
for i in 0 1 2 3 4 5; do
  e2e_click "$win" "${xs[$i]}" "$tab_y"
  e2e_caught_up "$win" || fail "kesto did not answer"
  e2e_screenshot "$shots/sidebar-${names[$i]}.png" "$win" || fail "no screenshot of ${names[$i]}"
  if [[ $i -eq 1 ]]; then
    # The first tag row ("news") shows the two bookmarks that carry it.
    e2e_click "$win" 80 180
    e2e_caught_up "$win" || fail "kesto did not answer"
    e2e_screenshot "$shots/sidebar-tags-selected.png" "$win"
    grep -A3 '<key>CurrentlySelectedTags</key>' "$settings" | grep -q '<integer>0</integer>' \
      || e2e_wait_until 60 grep -q CurrentlySelectedTags "$settings" || fail "tag selection not stored"
    # Rename from the row's context menu: the name is edited in place.
    e2e_popup_after e2e_click "$win" 80 180 3 || fail "a right click on the tag row showed no menu"
    e2e_screenshot "$shots/sidebar-tags-menu.png"
    xdotool key Down Return
    e2e_caught_up "$win" || fail "kesto did not answer"
    e2e_screenshot "$shots/sidebar-tags-editing.png" "$win"
    xdotool key ctrl+a
    xdotool type --delay 40 headlines
    # Tab ends the edit (Return does not reach the list's name editor yet).
    xdotool key Tab
    renamed() { [[ "$(e2e_sql "select group_concat(ZNAME) from ZTAG order by ZNAME")" == *headlines* ]]; }
    e2e_wait_until 60 renamed || fail "tag not renamed: $(e2e_sql 'select group_concat(ZNAME) from ZTAG')"
    # The Delete key deletes the selected tag once confirmed.
    e2e_click "$win" 80 200
    e2e_caught_up "$win" || fail "kesto did not answer"
    xdotool key Delete
    alert="$(e2e_wait_window '^Delete this tag\?$' 60)" || fail "no Delete tag alert"
    xdotool windowactivate --sync "$alert" key Return
    deleted() { [[ "$(e2e_sql "select count(*) from ZTAG where ZNAME = 'search'")" == 0 ]]; }
    e2e_wait_until 60 deleted || fail "tag not deleted"
    e2e_caught_up "$win" || fail "kesto did not answer"
    e2e_screenshot "$shots/sidebar-tags-edited.png" "$win"
  fi
  if [[ $i -eq 4 ]]; then
    # Find broken links lists the one broken bookmark; Remove broken links asks, then moves it
    # to the trash half a second after the answer.
    e2e_click "$win" 100 152
    e2e_caught_up "$win" || fail "kesto did not answer"
    e2e_screenshot "$shots/sidebar-maintenance-broken.png" "$win"
    e2e_click "$win" 100 212
    alert="$(e2e_wait_window '^Remove Broken Links\?$' 60)" || fail "no Remove Broken Links alert"
    xdotool windowactivate --sync "$alert" key Return
    broken_trashed() { [[ "$(e2e_sql 'select ZTRASHED from ZBOOKMARK where Z_PK = 1')" == 1 ]]; }
    e2e_wait_until 60 broken_trashed || fail "broken link not moved to the trash"
  fi
done
grep -q '<string>SelectedTrashView</string>' "$settings" || e2e_wait_until 60 grep -q SelectedTrashView "$settings" \
  || fail "SelectedView not stored"

# Empty Trash: the one entry of the trash list, then the alert's default button. The renamed
# tag gave its trashed bookmark a new version: the tombstones carry the versions of now.
trashed_ids="$(e2e_sql "select ZUNIQUEID || '|' || ZVERSION || '|b' from ZBOOKMARK where ZTRASHED = 1 order by 1")"
e2e_click "$win" 80 142
alert="$(e2e_wait_window '^Empty the trash\?$' 60)" || fail "no Empty Trash alert"
xdotool windowactivate --sync "$alert" key Return
gone_rows() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK where ZTRASHED = 1')" == 0 ]]; }
e2e_wait_until 60 gone_rows || fail "trash not emptied"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/sidebar-trash-emptied.png" "$win"
e2e_quit_by_key

[[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 5 ]] || fail "rows after Empty Trash: $(e2e_sql 'select count(*) from ZBOOKMARK')"
while read -r stone; do
  grep -qF "$stone" "$settings" || fail "tombstone $stone missing from $(grep -A8 KestoDeletedObjects "$settings")"
done <<<"$trashed_ids"
echo "ok: screenshots in $shots"
