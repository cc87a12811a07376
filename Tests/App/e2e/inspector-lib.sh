# Shared by the inspector's end-to-end scripts (sourced after lib.sh, e2e_app_script and the
# folder list's folder-rows.sh).

fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "$shots/failed.png" 2>/dev/null
  tail -n 40 "$work/kesto.log" >&2 2>/dev/null
  exit 1
}

# The inspector's fields (window-relative, at the window's and the inspector's first sizes).
title_at=(1094 146) address_at=(1094 194) notes_at=(1094 242) tags_at=(1094 291) login_at=(1094 436)
password_at=(1060 484)
caught_up() { e2e_caught_up "$win" || fail "kesto did not answer"; }
# A cell of the Apple folder (row 5) clicked, its bookmark shown in the inspector.
choose_bookmark() {  # [x y]
  click_row 5
  e2e_click "$win" "${1:-600}" "${2:-250}"
  e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on a cell showed no bookmark in the inspector"
  caught_up
}
# A field clicked, its text replaced by what is typed; the program has taken every key, and the
# field is still being edited.
type_into() {  # x y text
  e2e_click "$win" "$1" "$2"
  caught_up
  xdotool key ctrl+a
  xdotool type --delay 30 "$3"
  caught_up
}
end_by() {  # key|term
  if [[ "$1" == key ]]; then
    xdotool key ctrl+q
    e2e_wait_until 60 e2e_ended || fail "Ctrl+Q did not quit"
    e2e_wait_ended
  else
    e2e_quit_kesto
  fi
}

# The bookmark shown ($pk, found by its notes) and what the library holds for it.
column() { e2e_sql "select $1 from ZBOOKMARK where Z_PK = $pk"; }
column_is() { [[ "$(column "$1")" == "$2" ]]; }
tags() {
  e2e_sql "select group_concat(ZNAME) from (select t.ZNAME from ZTAG t join Z_1TAGS j on j.Z_3TAGS = t.Z_PK
           where j.Z_1BOOKMARKS = $pk order by t.ZNAME)"
}
tags_are() { [[ "$(tags)" == "$1" ]]; }
bookmark_state() {
  echo "$(e2e_sql "select quote(ZTITLE), quote(ZURL), quote(ZNOTES), quote(ZLOGIN), quote(ZPASSWORD), ZVERSION
                   from ZBOOKMARK where Z_PK = $pk") [$(tags)]"
}
# Gives the bookmark shown a title, notes, two tags, a login and a password, each stored by
# Return, and finds it ($pk).
fill_bookmark() {
  type_into "${notes_at[@]}" "Notes of the escape test"
  xdotool key Return
  notes_stored() { pk="$(e2e_sql "select Z_PK from ZBOOKMARK where ZNOTES = 'Notes of the escape test'")"; [[ -n "$pk" ]]; }
  e2e_wait_until 60 notes_stored || fail "Return in the notes stored nothing"
  type_into "${title_at[@]}" "Title of the escape test"
  xdotool key Return
  e2e_wait_until 60 column_is ZTITLE "Title of the escape test" || fail "Return in the title stored nothing"
  e2e_click "$win" "${tags_at[@]}"
  caught_up
  xdotool type --delay 30 "alpha"
  xdotool key Return
  xdotool type --delay 30 "gamma"
  xdotool key Return
  e2e_wait_until 60 tags_are "alpha,gamma" || fail "Return in the tags stored '$(tags)'"
  type_into "${login_at[@]}" "escape-login"
  xdotool key Return
  e2e_wait_until 60 column_is ZLOGIN "escape-login" || fail "Return in the login stored nothing"
  type_into "${password_at[@]}" "escape-pw"
  xdotool key Return
  e2e_wait_until 60 column_is ZPASSWORD "$(printf escape-pw | base64)" || fail "Return in the password stored nothing"
}
