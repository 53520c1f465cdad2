# The licence, read from LICENSE: its name (first line), the copyright line and the
# text after it, for the Debian copyright file, the zip and the Windows version record.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" license_text)
string(REGEX MATCH "^[^\n]+" KORDEL_LICENSE_NAME "${license_text}")
if(NOT license_text MATCHES "\nCopyright \\(c\\) ([0-9]+) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no line \"Copyright (c) YEAR HOLDER\" followed by the licence text")
endif()
set(KORDEL_COPYRIGHT_YEAR "${CMAKE_MATCH_1}")
set(KORDEL_COPYRIGHT_HOLDER "${CMAKE_MATCH_2}")
set(KORDEL_LICENSE_BODY "${CMAKE_MATCH_3}")
set(KORDEL_LEGAL_COPYRIGHT
    "Copyright (c) ${KORDEL_COPYRIGHT_YEAR} ${KORDEL_COPYRIGHT_HOLDER}, ${KORDEL_LICENSE_NAME}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
