# What Windows tells about a program (Explorer's Details tab, the loader): version information and
# the application manifest, compiled in by the resource compiler (windres).

# A binary version has four numbers of 16 bits: the minor version (a date, 150919) does not fit
# one, so it is split in two, keeping the order of versions: 3.150919 -> 3.15.919.0. The text
# fields carry the version as the project writes it.
math(EXPR LUVRIN_RC_VERSION_2 "${PROJECT_VERSION_MINOR} / 10000")
math(EXPR LUVRIN_RC_VERSION_3 "${PROJECT_VERSION_MINOR} % 10000")
set(LUVRIN_RC_FILE_VERSION "${PROJECT_VERSION_MAJOR},${LUVRIN_RC_VERSION_2},${LUVRIN_RC_VERSION_3},0")
set(LUVRIN_RC_MANIFEST_VERSION
    "${PROJECT_VERSION_MAJOR}.${LUVRIN_RC_VERSION_2}.${LUVRIN_RC_VERSION_3}.0")

# Gives target its version information (description: what the program is; file: its file name)
# and the manifest.
function(luvrin_windows_resources target description file)
  set(LUVRIN_RC_NAME ${target})
  set(LUVRIN_RC_DESCRIPTION "${description}")
  set(LUVRIN_RC_ORIGINAL_FILE "${file}")
  set(LUVRIN_RC_MANIFEST "${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/resources/luvrin.manifest.in ${LUVRIN_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  # The manifest is read at build time, not configure time: a change must rebuild the resources.
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc PROPERTIES
                              OBJECT_DEPENDS ${LUVRIN_RC_MANIFEST})
endfunction()
