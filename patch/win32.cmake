# The Windows program: resources (version record, icon, manifest), GUI
# subsystem (WinMain entry), stripped; the toolchain file links it statically
# and drops unused sections.
enable_language(RC)

# The manifest names the program's processor architecture (SKELVIN_MANIFEST_ARCH,
# from the toolchain file); resources.rc finds the generated files (it and
# patch/version.h) through the include path.
set(SKELVIN_RESOURCE_DIR ${PROJECT_BINARY_DIR}/patch/resources)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Skelvin_Patch_eng.manifest.in
               ${SKELVIN_RESOURCE_DIR}/Skelvin_Patch_eng.manifest @ONLY)

# skelvin_resources(<target>): the program's resources in <target>.
function(skelvin_resources target)
  set(rc ${PROJECT_SOURCE_DIR}/patch/resources.rc)
  set(SKELVIN_RESOURCE_DIR ${PROJECT_BINARY_DIR}/patch/resources)
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${SKELVIN_RESOURCE_DIR} ${SKELVIN_GENERATED_INCLUDE})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS
    ${SKELVIN_GENERATED_INCLUDE}/patch/version.h
    ${SKELVIN_RESOURCE_DIR}/Skelvin_Patch_eng.manifest
    ${PROJECT_SOURCE_DIR}/patch/icon/icon-48x48x24.dib)
endfunction()

skelvin_resources(Skelvin_Patch_eng)
target_link_libraries(Skelvin_Patch_eng PRIVATE skelvin_throw_helpers skelvin_xp_imports)
set_target_properties(Skelvin_Patch_eng PROPERTIES WIN32_EXECUTABLE ON)
target_link_options(Skelvin_Patch_eng PRIVATE -s)
