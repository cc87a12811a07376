# Run by `cmake --install` before it writes its list of installed files into the build folder
# (install_manifest.txt, at its end): as root for a build folder of another user's (sudo from the
# user's checkout), the list is made now and given to the folder's owner, as the scripts leave the
# rest of the folder, and the install then writes it in place. So the user can install from the
# folder again as themselves. A list that is a link is left to the install as it is.
# Set before it runs: KESTO_BUILD_FOLDER (the top of the build folder).
if(CMAKE_INSTALL_COMPONENT)
  set(list "${KESTO_BUILD_FOLDER}/install_manifest_${CMAKE_INSTALL_COMPONENT}.txt")
else()
  set(list "${KESTO_BUILD_FOLDER}/install_manifest.txt")
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND stat -c %u "${KESTO_BUILD_FOLDER}" OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
if(uid STREQUAL "0" AND owner MATCHES "^[0-9]+$" AND NOT owner STREQUAL "0" AND NOT IS_SYMLINK "${list}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E touch "${list}" RESULT_VARIABLE made OUTPUT_QUIET ERROR_QUIET)
  if(made EQUAL 0)
    execute_process(COMMAND chown -h "--reference=${KESTO_BUILD_FOLDER}" "${list}" OUTPUT_QUIET ERROR_QUIET)
  endif()
endif()
