# Test runs under Wine: one prefix per build tree (SKELVIN_WINEPREFIX, set by
# the toolchain file, where the emulator wrapper looks for it), created by the
# setup test of the fixture `wine_prefix` and removed by its cleanup test.
# Every test that runs a cross-compiled binary requires that fixture.
# Any directory may include this file (more than once); its variables are set
# in the including scope each time.

set(SKELVIN_WINE_FIXTURE wine_prefix)
set(SKELVIN_WINE_SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})
if(NOT SKELVIN_WINEPREFIX)
  set(SKELVIN_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
endif()
# The prefix fits the build (SKELVIN_WINE_ARCH, from the toolchain file).

# Defines the fixture's setup and cleanup tests (once per build tree).
function(skelvin_wine_fixture_tests)
  get_property(defined GLOBAL PROPERTY SKELVIN_WINE_FIXTURE_DEFINED)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY SKELVIN_WINE_FIXTURE_DEFINED TRUE)
  add_test(NAME wine_prefix_setup
    COMMAND ${SKELVIN_WINE_SUPPORT_DIR}/wineprefix.sh setup ${SKELVIN_WINEPREFIX} ${SKELVIN_WINE_ARCH})
  add_test(NAME wine_prefix_cleanup
    COMMAND ${SKELVIN_WINE_SUPPORT_DIR}/wineprefix.sh cleanup ${SKELVIN_WINEPREFIX})
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP ${SKELVIN_WINE_FIXTURE} TIMEOUT 900
                       SKIP_RETURN_CODE 77)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP ${SKELVIN_WINE_FIXTURE} TIMEOUT 300)
endfunction()

# skelvin_requires_wine(<test>...): the tests run in the shared prefix. A
# test that cannot run on this host (a PE32 without i386) exits 77: skipped,
# with the reason in its output.
function(skelvin_requires_wine)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED ${SKELVIN_WINE_FIXTURE})
  set_property(TEST ${ARGN} PROPERTY SKIP_RETURN_CODE 77)
endfunction()
