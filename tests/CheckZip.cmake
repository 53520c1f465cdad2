# Checks a zip: it holds exactly NAMES (|-separated), and each of them has the bytes of
# the file at the same position in BUILT; programs (.exe) as STRIP --strip-debug makes them
# with SOURCE_DATE_EPOCH=EPOCH, and when SIGNED is ON, once their signature is removed.
#   cmake -DZIP=x.zip -DNAMES=a|b.exe -DBUILT=/path/a|/path/b.exe -DSTRIP=strip -DEPOCH=n
#         [-DSIGNED=ON] -P CheckZip.cmake
# The first LENGTH bytes of a Windows program as hexadecimal text, its PE checksum left
# out: removing a signature (osslsigncode remove-signature) leaves a new checksum, and
# the zero bytes that aligned the signature after the program's end.
function(program_hex file length out_var)
  file(READ "${file}" pe_offset OFFSET 60 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" pe_offset "${pe_offset}")
  math(EXPR checksum "${pe_offset} + 88")
  math(EXPR rest "${checksum} + 4")
  math(EXPR rest_length "${length} - ${rest}")
  file(READ "${file}" head LIMIT ${checksum} HEX)
  file(READ "${file}" tail OFFSET ${rest} LIMIT ${rest_length} HEX)
  set(${out_var} "${head}${tail}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" names "${NAMES}")
string(REPLACE "|" ";" built "${BUILT}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf "${ZIP}" OUTPUT_VARIABLE listing
                RESULT_VARIABLE rc ERROR_VARIABLE problem)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}: ${problem}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" listing "${listing}")
list(FILTER listing EXCLUDE REGEX "/$")  # folder entries
list(SORT listing)
set(expected ${names})
list(SORT expected)
if(NOT listing STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds [${listing}], expected [${expected}]")
endif()

set(out "${CMAKE_CURRENT_BINARY_DIR}/check-zip")
file(REMOVE_RECURSE "${out}")
file(MAKE_DIRECTORY "${out}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ZIP}" WORKING_DIRECTORY "${out}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()
foreach(name built_file IN ZIP_LISTS names built)
  set(reference "${built_file}")
  set(packed "${out}/${name}")
  if(name MATCHES "\\.exe$")
    set(reference "${out}/stripped.exe")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EPOCH} "${STRIP}" --strip-debug -o "${reference}" "${built_file}")
    if(SIGNED)
      file(REMOVE "${out}/unsigned.exe")
      execute_process(COMMAND osslsigncode remove-signature -in "${out}/${name}" -out "${out}/unsigned.exe"
                      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${name} in ${ZIP} carries no signature that osslsigncode can remove")
      endif()
      file(SIZE "${reference}" length)
      file(READ "${out}/unsigned.exe" padding OFFSET ${length} HEX)
      program_hex("${out}/unsigned.exe" ${length} packed_hex)
      program_hex("${reference}" ${length} reference_hex)
      if(NOT packed_hex STREQUAL reference_hex OR NOT padding MATCHES "^(00)?(00)?(00)?(00)?(00)?(00)?(00)?$")
        message(FATAL_ERROR "${name} in ${ZIP}, its signature removed, differs from ${built_file}")
      endif()
      continue()
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${packed}" "${reference}"
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${name} in ${ZIP} differs from ${built_file}")
  endif()
endforeach()
file(REMOVE_RECURSE "${out}")
message(STATUS "${ZIP}: ${listing}")
