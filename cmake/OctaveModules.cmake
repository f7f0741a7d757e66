# Octave modules: build/toolbox/sphnet_learn.mex, sphnet_recall.mex and the internal
# sphnet_engine.mex with their help files.
# Compiled with the flags Octave's mkoctfile reports, linked the way `mkoctfile --mex` links:
# the MEX calls stay unresolved until the Octave process loads the module.
set(SPHNET_TOOLBOX_DIR ${PROJECT_BINARY_DIR}/toolbox)

if(NOT SPHNET_OCTAVE)
  return()
endif()
find_program(MKOCTFILE_EXECUTABLE mkoctfile)
if(NOT MKOCTFILE_EXECUTABLE)
  message(STATUS "mkoctfile not found: the Octave modules are skipped (install liboctave-dev)")
  set(SPHNET_OCTAVE OFF)
  return()
endif()

execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p OCTINCLUDEDIR
  OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(OCTAVE_EXECUTABLE NAMES octave-cli octave)
message(STATUS "Octave modules: ${SPHNET_TOOLBOX_DIR} (headers ${OCTAVE_INCLUDE_DIR})")

foreach(fn learn recall engine)
  string(TOUPPER ${fn} FN)
  set(target sphnet_${fn}_octave)
  add_library(${target} MODULE ${SPHNET_CORE_SOURCES} ${SPHNET_${FN}_SOURCES}
    ${PROJECT_SOURCE_DIR}/core/host/per_host/host_octave.cpp ${PROJECT_SOURCE_DIR}/core/host/per_host/heap_malloc.cpp)
  target_include_directories(${target} PRIVATE ${SPHNET_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR}/.. ${OCTAVE_INCLUDE_DIR})
  target_compile_definitions(${target} PRIVATE MEX_DEBUG)
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic)
  target_link_libraries(${target} PRIVATE Threads::Threads)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".mex" OUTPUT_NAME sphnet_${fn}
    LIBRARY_OUTPUT_DIRECTORY ${SPHNET_TOOLBOX_DIR})
  sphnet_hide_symbols(${target})
  # The help text lives in a comment-only file of the same name beside the module.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
      ${PROJECT_SOURCE_DIR}/octave/sphnet_${fn}.m ${SPHNET_TOOLBOX_DIR}/sphnet_${fn}.m)
endforeach()

# Plain Octave functions that ship beside the modules (their helpers in private/), and the
# demo's data sets, which it finds in data/ beside itself.
file(GLOB SPHNET_DEMO_DATA CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.csv)
add_custom_target(sphnet_octave_scripts ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SPHNET_TOOLBOX_DIR}/data
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/octave/sphnet_demo.m
    ${PROJECT_SOURCE_DIR}/octave/sphnet_fit.m ${PROJECT_SOURCE_DIR}/octave/sphnet_predict.m
    ${PROJECT_SOURCE_DIR}/octave/sphnet_tune.m ${PROJECT_SOURCE_DIR}/octave/sphnet_save.m
    ${PROJECT_SOURCE_DIR}/octave/sphnet_load.m ${SPHNET_TOOLBOX_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/octave/private ${SPHNET_TOOLBOX_DIR}/private
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${SPHNET_DEMO_DATA} ${SPHNET_TOOLBOX_DIR}/data)
