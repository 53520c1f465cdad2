# Packs the Windows zip: the text files and the programs in one folder, the programs
# stripped of their debugging symbols and, given a certificate and a key, signed
# (Authenticode). Every member is dated EPOCH, so that an unsigned zip of one commit
# comes out byte for byte the same wherever and whenever it is made.
#   cmake -DZIP=out.zip -DSTAGE=dir -DFOLDER=name -DTEXTS=README.txt=path|LICENSE.txt=path
#         -DPROGRAMS=path.exe|path.exe -DSTRIP=strip -DEPOCH=seconds
#         [-DSIGN_CERT=cert -DSIGN_KEY=key -DSIGN_TIMESTAMP_URL=url -DSIGN_PASSWORD_FILE=file]
#         -P PackZip.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${rc}):\n${out}")
  endif()
endfunction()

if(SIGN_CERT OR SIGN_KEY)
  if(NOT (SIGN_CERT AND SIGN_KEY))
    message(FATAL_ERROR "signing needs both a certificate (KORDEL_SIGN_CERT) and its key (KORDEL_SIGN_KEY)")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "signing needs osslsigncode (apt-get install osslsigncode)")
  endif()
  set(sign_options -certs "${SIGN_CERT}" -key "${SIGN_KEY}" -h sha256 -n "Kordel Update")
  if(SIGN_PASSWORD_FILE)
    list(APPEND sign_options -readpass "${SIGN_PASSWORD_FILE}")
  endif()
  if(SIGN_TIMESTAMP_URL)
    list(APPEND sign_options -ts "${SIGN_TIMESTAMP_URL}")
  endif()
endif()

set(folder "${STAGE}/${FOLDER}")
file(REMOVE_RECURSE "${folder}")
file(MAKE_DIRECTORY "${folder}")
set(names "")
string(REPLACE "|" ";" texts "${TEXTS}")
foreach(text IN LISTS texts)
  string(REGEX MATCH "^([^=]+)=(.*)$" ignored "${text}")
  file(COPY_FILE "${CMAKE_MATCH_2}" "${folder}/${CMAKE_MATCH_1}")
  list(APPEND names "${FOLDER}/${CMAKE_MATCH_1}")
endforeach()

# Stripping writes a time into a program's header: SOURCE_DATE_EPOCH sets it.
string(REPLACE "|" ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  set(out "${folder}/${name}")
  run(${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EPOCH} "${STRIP}" --strip-debug -o "${out}" "${program}")
  if(sign_options)
    run("${OSSLSIGNCODE}" sign ${sign_options} -in "${out}" -out "${out}.signed")
    file(RENAME "${out}.signed" "${out}")
  endif()
  list(APPEND names "${FOLDER}/${name}")
endforeach()

# Every member dated EPOCH, and nothing else of the files' own: zip -X leaves out the
# extra fields (owner, access and change times) that cmake -E tar would write from the
# files. The DOS times are local times: packed in UTC, they do not depend on the zone.
find_program(ZIP_PROGRAM zip)
if(NOT ZIP_PROGRAM)
  message(FATAL_ERROR "packing the zip needs zip (apt-get install zip)")
endif()
foreach(name IN LISTS names)
  run(${CMAKE_COMMAND} -E env TZ=UTC touch -d @${EPOCH} "${STAGE}/${name}")
endforeach()
file(REMOVE "${ZIP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${ZIP_PROGRAM}" -X -D -q "${ZIP}" ${names}
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot pack ${ZIP}")
endif()
