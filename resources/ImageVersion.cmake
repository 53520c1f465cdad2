# Writes ImageVersion.h for the resource script: the embedded image's version as the
# image tool reads it from the info block (which also checks the image).
#   cmake -DTOOL=kordel-image -DIMAGE=image.bin -DOUT=ImageVersion.h -P ImageVersion.cmake
execute_process(COMMAND "${TOOL}" info "${IMAGE}" OUTPUT_VARIABLE info RESULT_VARIABLE rc
                ERROR_VARIABLE problem)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${problem}")
endif()
if(NOT info MATCHES "label: +Version ([0-9]+\\.[0-9]+)")
  message(FATAL_ERROR "kordel-image info printed no version:\n${info}")
endif()
file(WRITE "${OUT}" "#define KORDEL_IMAGE_VERSION \"${CMAKE_MATCH_1}\"\n")
