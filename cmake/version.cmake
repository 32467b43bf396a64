# The project's version, as the program writes it.
#
# skelvin_version_text(<var> <major> <minor>): "<major>.<minor>", the minor
# number in two digits at least: version 1.0.0 is "1.00", 1.12.0 "1.12".
# The revision (patch number) is not part of the text.
function(skelvin_version_text var major minor)
  if(minor LESS 10)
    set(minor "0${minor}")
  endif()
  set(${var} "${major}.${minor}" PARENT_SCOPE)
endfunction()

# skelvin_read_project_version(<var> <CMakeLists.txt>): the x.y.z of the
# file's project(SkelvinPatch VERSION x.y.z ...), for scripts that read it
# without configuring.
function(skelvin_read_project_version var file)
  file(READ "${file}" text)
  if(NOT text MATCHES "project\\(SkelvinPatch[ \t\r\n]+VERSION[ \t\r\n]+([0-9]+\\.[0-9]+\\.[0-9]+)[ \t\r\n)]")
    message(FATAL_ERROR "${file}: no project(SkelvinPatch VERSION <major>.<minor>.<patch> ...)")
  endif()
  set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()
