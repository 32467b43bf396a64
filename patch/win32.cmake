# The Windows program: resources (version record, icon, manifest), GUI
# subsystem (WinMain entry), stripped; the toolchain file links it statically
# and drops unused sections.
enable_language(RC)

target_sources(Skelvin_Patch_eng PRIVATE ${CMAKE_CURRENT_LIST_DIR}/resources.rc)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/resources.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/version.h
  ${CMAKE_CURRENT_LIST_DIR}/Skelvin_Patch_eng.manifest
  ${CMAKE_CURRENT_LIST_DIR}/icon/icon-48x48x24.dib)
set_target_properties(Skelvin_Patch_eng PROPERTIES WIN32_EXECUTABLE ON)
target_link_options(Skelvin_Patch_eng PRIVATE -s)
