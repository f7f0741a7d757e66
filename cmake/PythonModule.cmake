# The Python extension sphnet._core: the numeric core and the procedures' algorithms behind the
# Python host layer (core/host/per_host/host_python.cpp). setup.py configures a build with it.
if(NOT SPHNET_PYTHON)
  return()
endif()
# Debian's interpreter, for which pybind11-dev and python3-numpy are installed; another
# python3 may come first on PATH.
if(NOT Python_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python_EXECUTABLE /usr/bin/python3)
endif()
set(PYBIND11_FINDPYTHON ON)
find_package(pybind11 CONFIG REQUIRED)

set(SPHNET_PYTHON_MODULE_DIR ${PROJECT_BINARY_DIR}/python/sphnet)
pybind11_add_module(sphnet_python MODULE
  ${PROJECT_SOURCE_DIR}/python/src/core_module.cpp ${PROJECT_SOURCE_DIR}/python/src/core_calls.cpp
  ${SPHNET_NUMERIC_CORE_SOURCES} ${SPHNET_LEARN_ALGORITHM_SOURCES} ${SPHNET_RECALL_PROCEDURE_SOURCES}
  ${PROJECT_SOURCE_DIR}/core/host/per_host/host_python.cpp ${PROJECT_SOURCE_DIR}/core/host/per_host/heap_malloc.cpp)
target_include_directories(sphnet_python PRIVATE ${PROJECT_SOURCE_DIR}/core/host/per_host/python ${SPHNET_INCLUDE_DIRS})
target_link_libraries(sphnet_python PRIVATE Threads::Threads)
set_target_properties(sphnet_python PROPERTIES OUTPUT_NAME _core LIBRARY_OUTPUT_DIRECTORY ${SPHNET_PYTHON_MODULE_DIR})
message(STATUS "Python module: ${SPHNET_PYTHON_MODULE_DIR} (${Python_EXECUTABLE})")
