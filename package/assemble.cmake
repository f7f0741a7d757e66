# Assembles the Octave package: copies every file the manifest names into STAGE/NAME, then
# packs that folder into ARCHIVE. Manifest lines read "source|path inside the package".
file(REMOVE_RECURSE ${STAGE})
file(STRINGS ${MANIFEST} entries)
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  configure_file(${from} ${STAGE}/${NAME}/${to} COPYONLY)
endforeach()
file(REMOVE ${ARCHIVE})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${ARCHIVE} ${NAME}
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not pack ${ARCHIVE}")
endif()
