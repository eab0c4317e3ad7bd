# Packs STAGE's contents into ZIP and writes what the server settings declare
# about it into ENV as shell assignments: <PREFIX>_PACKAGE, _SIZE, _SHA256, _VERSION.
file(GLOB entries RELATIVE ${STAGE} ${STAGE}/*)
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${entries}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packing ${ZIP} failed")
endif()
file(SIZE ${ZIP} size)
file(SHA256 ${ZIP} sha)
get_filename_component(name ${ZIP} NAME)
file(WRITE ${ENV} "${PREFIX}_PACKAGE=${name}\n${PREFIX}_SIZE=${size}\n${PREFIX}_SHA256=${sha}\n${PREFIX}_VERSION=${VERSION}\n")
