# Publishes the demo game as a chunk store: STAGE as VERSION, and a second
# version NEXT_VERSION made from it (one file changed, one added) so an update
# has something to fetch. Both share the store, so the update needs only the
# chunks of what changed. Serials follow the clock: a store built later is
# never refused by an installation made from an earlier one.
file(REMOVE_RECURSE ${STORE} ${NEXT_STAGE})
file(COPY ${STAGE}/ DESTINATION ${NEXT_STAGE})
file(APPEND ${NEXT_STAGE}/data/readme.html "<!-- ${GAME} ${NEXT_VERSION} -->\n")
file(WRITE ${NEXT_STAGE}/data/notes.txt "${GAME} ${NEXT_VERSION}: the second demo version.\n")
string(TIMESTAMP now "%s" UTC)
math(EXPR next_serial "${now} + 1")
foreach(pair "${STAGE};${VERSION};${now}" "${NEXT_STAGE};${NEXT_VERSION};${next_serial}")
  list(GET pair 0 folder)
  list(GET pair 1 version)
  list(GET pair 2 serial)
  execute_process(COMMAND ${ORBPUBLISH} build ${folder} ${STORE} --version ${version} --game ${GAME}
                          --key ${KEY} --serial ${serial} --days 365
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "publishing ${GAME} ${version} into ${STORE} failed")
  endif()
endforeach()
file(SHA256 ${STORE}/manifests/${VERSION}.manifest sha)
file(SHA256 ${STORE}/manifests/${NEXT_VERSION}.manifest next_sha)
file(WRITE ${ENV} "STORE_VERSION=${VERSION}\nSTORE_SHA256=${sha}\nSTORE_NEXT_VERSION=${NEXT_VERSION}\nSTORE_NEXT_SHA256=${next_sha}\n")
