# kordel-<version>-win64.zip: the Windows programs and a short README in one folder,
# made by every Windows build. The programs go in without their debugging symbols.
set(zip_folder "kordel-${PROJECT_VERSION}-win64")
set(zip_file "${CMAKE_BINARY_DIR}/${zip_folder}.zip")
set(zip_stage "${CMAKE_BINARY_DIR}/zip-stage")
# Stripping writes a new time into a program's header; taking it from the configure
# time makes the stripped programs reproducible, so that the test can remake them.
string(TIMESTAMP zip_epoch "%s")
set(zip_strip ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${zip_epoch} ${CMAKE_STRIP} --strip-debug)
configure_file("${PROJECT_SOURCE_DIR}/resources/windows/README.txt.in"
               "${zip_stage}/README.txt.crlf" @ONLY NEWLINE_STYLE CRLF)

set(zip_programs kordel-update kordel-flash)
set(zip_targets "")
set(zip_copies "")
set(zip_names "${zip_folder}/README.txt")
set(zip_built "${zip_stage}/README.txt.crlf")
foreach(program IN LISTS zip_programs)
  if(TARGET ${program})
    list(APPEND zip_targets ${program})
    list(APPEND zip_copies COMMAND ${zip_strip} -o
                                   "${zip_stage}/${zip_folder}/${program}.exe" $<TARGET_FILE:${program}>)
    list(APPEND zip_names "${zip_folder}/${program}.exe")
    list(APPEND zip_built $<TARGET_FILE:${program}>)
  endif()
endforeach()

add_custom_command(
  OUTPUT "${zip_file}"
  COMMAND ${CMAKE_COMMAND} -E rm -rf "${zip_stage}/${zip_folder}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${zip_stage}/${zip_folder}"
  COMMAND ${CMAKE_COMMAND} -E copy "${zip_stage}/README.txt.crlf" "${zip_stage}/${zip_folder}/README.txt"
  ${zip_copies}
  COMMAND ${CMAKE_COMMAND} -E rm -f "${zip_file}"
  COMMAND ${CMAKE_COMMAND} -E tar cf "${zip_file}" --format=zip ${zip_names}
  WORKING_DIRECTORY "${zip_stage}"
  DEPENDS ${zip_targets} "${zip_stage}/README.txt.crlf"
  COMMENT "Packing ${zip_folder}.zip")
add_custom_target(windows-zip ALL DEPENDS "${zip_file}")

if(KORDEL_BUILD_TESTS)
  # The zip holds exactly the README and the programs, each as built and stripped.
  string(REPLACE ";" "|" zip_names_arg "${zip_names}")
  string(REPLACE ";" "|" zip_built_arg "${zip_built}")
  add_test(NAME WindowsZipContents
    COMMAND ${CMAKE_COMMAND} -DZIP=${zip_file} -DNAMES=${zip_names_arg} -DBUILT=${zip_built_arg}
            -DSTRIP=${CMAKE_STRIP} -DEPOCH=${zip_epoch}
            -P "${PROJECT_SOURCE_DIR}/tests/CheckZip.cmake")
endif()
