# kordel-<version>-win64.zip: the Windows programs, a short README and the licence in one
# folder, made by every Windows build (cmake/PackZip.cmake). The programs go in without
# their debugging symbols and, when a certificate and its key are given, signed.
set(KORDEL_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER) for the zip's programs")
set(KORDEL_SIGN_KEY "" CACHE FILEPATH "The signing certificate's private key")
set(KORDEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the key's password (optional)")
set(KORDEL_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamping authority for the signatures (optional)")

set(zip_folder "kordel-${PROJECT_VERSION}-win64")
set(zip_file "${CMAKE_BINARY_DIR}/${zip_folder}.zip")
set(zip_stage "${CMAKE_BINARY_DIR}/zip-stage")
# The programs' header times and the members' dates: SOURCE_DATE_EPOCH (make sets it to
# the last commit's time), otherwise the configure time.
string(TIMESTAMP zip_epoch "%s")
configure_file("${PROJECT_SOURCE_DIR}/resources/windows/README.txt.in"
               "${zip_stage}/README.txt.crlf" @ONLY NEWLINE_STYLE CRLF)
configure_file("${PROJECT_SOURCE_DIR}/LICENSE" "${zip_stage}/LICENSE.txt.crlf" @ONLY NEWLINE_STYLE CRLF)

set(zip_texts "README.txt=${zip_stage}/README.txt.crlf" "LICENSE.txt=${zip_stage}/LICENSE.txt.crlf")
set(zip_names "${zip_folder}/README.txt" "${zip_folder}/LICENSE.txt")
set(zip_built "${zip_stage}/README.txt.crlf" "${zip_stage}/LICENSE.txt.crlf")
set(zip_targets "")
foreach(program kordel-update kordel-flash)
  if(TARGET ${program})
    list(APPEND zip_targets ${program})
    list(APPEND zip_names "${zip_folder}/${program}.exe")
    list(APPEND zip_built $<TARGET_FILE:${program}>)
  endif()
endforeach()
set(zip_programs ${zip_built})
list(REMOVE_AT zip_programs 0 1)
string(REPLACE ";" "|" zip_texts_arg "${zip_texts}")
string(REPLACE ";" "|" zip_programs_arg "${zip_programs}")

set(zip_pack_args -DZIP=${zip_file} -DSTAGE=${zip_stage} -DFOLDER=${zip_folder}
    -DTEXTS=${zip_texts_arg} -DSTRIP=${CMAKE_STRIP} -DEPOCH=${zip_epoch})
set(zip_signed OFF)
set(zip_comment "Packing ${zip_folder}.zip")
if(KORDEL_SIGN_CERT OR KORDEL_SIGN_KEY)
  set(zip_signed ON)
  string(APPEND zip_comment " (programs signed)")
  list(APPEND zip_pack_args -DSIGN_CERT=${KORDEL_SIGN_CERT} -DSIGN_KEY=${KORDEL_SIGN_KEY}
       -DSIGN_PASSWORD_FILE=${KORDEL_SIGN_PASSWORD_FILE} -DSIGN_TIMESTAMP_URL=${KORDEL_SIGN_TIMESTAMP_URL})
endif()
add_custom_command(
  OUTPUT "${zip_file}"
  COMMAND ${CMAKE_COMMAND} ${zip_pack_args} -DPROGRAMS=${zip_programs_arg}
          -P "${PROJECT_SOURCE_DIR}/cmake/PackZip.cmake"
  DEPENDS ${zip_targets} ${zip_built} "${PROJECT_SOURCE_DIR}/cmake/PackZip.cmake"
  COMMENT "${zip_comment}"
  VERBATIM)
add_custom_target(windows-zip ALL DEPENDS "${zip_file}")

if(KORDEL_BUILD_TESTS)
  # The zip holds exactly the README, the licence and the programs, each as built and
  # stripped (signed programs: once their signature is taken off again).
  string(REPLACE ";" "|" zip_names_arg "${zip_names}")
  string(REPLACE ";" "|" zip_built_arg "${zip_built}")
  add_test(NAME WindowsZipContents
    COMMAND ${CMAKE_COMMAND} -DZIP=${zip_file} -DNAMES=${zip_names_arg} -DBUILT=${zip_built_arg}
            -DSTRIP=${CMAKE_STRIP} -DEPOCH=${zip_epoch} -DSIGNED=${zip_signed}
            -P "${PROJECT_SOURCE_DIR}/tests/CheckZip.cmake")
  # The same packing with a throwaway certificate: the signatures verify and the signed
  # programs still run under wine.
  add_test(NAME WineSignedZip
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/signed-zip.sh "${CMAKE_COMMAND}"
            "${PROJECT_SOURCE_DIR}/cmake/PackZip.cmake" ${CMAKE_STRIP} ${zip_programs})
  set_tests_properties(WineSignedZip PROPERTIES
    ENVIRONMENT "KORDEL_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    RESOURCE_LOCK wineprefix TIMEOUT 120)
endif()
