# Run by `cmake --install`: installs the desktop entry with the installed program's full path in
# its Exec line, so the desktop starts it whether or not the prefix's bin folder is on PATH.
# Set before it runs: KESTO_DESKTOP_ENTRY (the entry in the source tree), KESTO_BINDIR and
# KESTO_DATADIR (GNUInstallDirs' folders, relative to the prefix or absolute).
foreach(dir KESTO_BINDIR KESTO_DATADIR)
  if(IS_ABSOLUTE "${${dir}}")
    set(${dir}_FULL "${${dir}}")
  else()
    set(${dir}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
set(program "${KESTO_BINDIR_FULL}/kesto")

# One Exec argument by the desktop-entry rules, as the program writes its own entry: quoted only
# when a reserved character needs it (Debian's generic xdg-open does not undo quotes); inside
# quotes '"', '`', '$' and the backslash take a backslash; '%' is written twice; then the value's
# own escaping doubles every backslash.
string(REPLACE "%" "%%" argument "${program}")
if(argument MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
  string(REPLACE "\\" "\\\\" argument "${argument}")
  string(REPLACE "\"" "\\\"" argument "${argument}")
  string(REPLACE "`" "\\`" argument "${argument}")
  string(REPLACE "$" "\\$" argument "${argument}")
  set(argument "\"${argument}\"")
endif()
string(REPLACE "\\" "\\\\" argument "${argument}")

file(READ "${KESTO_DESKTOP_ENTRY}" entry)
string(FIND "${entry}" "\nExec=kesto %u\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${KESTO_DESKTOP_ENTRY} has no line \"Exec=kesto %u\" to complete")
endif()
string(REPLACE "\nExec=kesto %u\n" "\nExec=${argument} %u\n" entry "${entry}")
# Installed with file(INSTALL), as install(FILES) does: listed in the install's manifest, so that
# removing the files it lists removes the entry too, and readable by all whatever the umask. The
# completed text is written beside its place first, under a name no desktop reads.
set(folder "${KESTO_DATADIR_FULL}/applications")
set(completed "$ENV{DESTDIR}${folder}/.kesto.desktop.install")
file(WRITE "${completed}" "${entry}")
file(INSTALL DESTINATION "${folder}" TYPE FILE RENAME kesto.desktop FILES "${completed}")
file(REMOVE "${completed}")

# The desktop's cache of which entry handles which type (GIO reads it) learns of the entry now, not
# at Kesto's first start, as distribution packages refresh it after an install. Not for a staged
# install (DESTDIR), whose packager does that where the files end up, nor where the tool is missing.
find_program(update_desktop_database update-desktop-database)
if(update_desktop_database AND "$ENV{DESTDIR}" STREQUAL "")
  execute_process(COMMAND "${update_desktop_database}" -q "${folder}" RESULT_VARIABLE refreshed)
  if(NOT refreshed EQUAL 0)
    message(STATUS "update-desktop-database could not refresh ${folder}")
  endif()
endif()
