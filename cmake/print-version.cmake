# Prints the version of the top CMakeLists.txt's project() as the program
# writes it ("1.00"), on standard output, without configuring:
#   cmake -P cmake/print-version.cmake
# -DSKELVIN_TOP=<dir> reads another tree's CMakeLists.txt.
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
if(NOT DEFINED SKELVIN_TOP)
  get_filename_component(SKELVIN_TOP ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
endif()
skelvin_read_project_version(version ${SKELVIN_TOP}/CMakeLists.txt)
string(REPLACE "." ";" parts "${version}")
list(GET parts 0 major)
list(GET parts 1 minor)
skelvin_version_text(text ${major} ${minor})
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${text}")
