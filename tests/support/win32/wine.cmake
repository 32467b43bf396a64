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

# The template prefixes (fixture `wine_templates`): one set up by wineboot per
# architecture the tests' prefixes have, copied for each new prefix instead of
# setting that up again. They stay in the build tree between test runs (the
# Windows 10 and the XP runs copy the same ones); Wine's version is checked.
set(SKELVIN_WINE_TEMPLATE_FIXTURE wine_templates)
set(SKELVIN_WINE_TEMPLATES ${PROJECT_BINARY_DIR}/wine-templates)
set(SKELVIN_WINE_TEMPLATE_ARCHES ${SKELVIN_WINE_ARCH} win64)
list(REMOVE_DUPLICATES SKELVIN_WINE_TEMPLATE_ARCHES)

# Defines the fixtures' setup and cleanup tests (once per build tree).
function(skelvin_wine_fixture_tests)
  get_property(defined GLOBAL PROPERTY SKELVIN_WINE_FIXTURE_DEFINED)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY SKELVIN_WINE_FIXTURE_DEFINED TRUE)
  foreach(arch ${SKELVIN_WINE_TEMPLATE_ARCHES})
    add_test(NAME wine_template_${arch}
      COMMAND ${SKELVIN_WINE_SUPPORT_DIR}/wineprefix.sh template ${SKELVIN_WINE_TEMPLATES}/${arch} ${arch})
    set_tests_properties(wine_template_${arch} PROPERTIES FIXTURES_SETUP ${SKELVIN_WINE_TEMPLATE_FIXTURE}
                         TIMEOUT 900 SKIP_RETURN_CODE 77)
  endforeach()
  add_test(NAME wine_prefix_setup
    COMMAND ${SKELVIN_WINE_SUPPORT_DIR}/wineprefix.sh setup ${SKELVIN_WINEPREFIX} ${SKELVIN_WINE_ARCH})
  add_test(NAME wine_prefix_cleanup
    COMMAND ${SKELVIN_WINE_SUPPORT_DIR}/wineprefix.sh cleanup ${SKELVIN_WINEPREFIX})
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP ${SKELVIN_WINE_FIXTURE} TIMEOUT 900
                       SKIP_RETURN_CODE 77)
  skelvin_copies_wine_template(wine_prefix_setup)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP ${SKELVIN_WINE_FIXTURE} TIMEOUT 300)
endfunction()

# skelvin_copies_wine_template(<test>...): the tests make their prefixes as
# copies of the templates (wine_template in tests/support/wine_host.sh).
function(skelvin_copies_wine_template)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED ${SKELVIN_WINE_TEMPLATE_FIXTURE})
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT SKELVIN_WINE_TEMPLATES=${SKELVIN_WINE_TEMPLATES})
endfunction()

# skelvin_requires_wine(<test>...): the tests run in the shared prefix, one
# at a time (they share its wineserver and its HKCU; tests with a prefix of
# their own run beside them). A test that cannot run on this host (a PE32
# without i386) exits 77: skipped, with the reason in its output.
function(skelvin_requires_wine)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED ${SKELVIN_WINE_FIXTURE})
  set_property(TEST ${ARGN} APPEND PROPERTY RESOURCE_LOCK ${SKELVIN_WINE_FIXTURE})
  set_property(TEST ${ARGN} PROPERTY SKIP_RETURN_CODE 77)
endfunction()
