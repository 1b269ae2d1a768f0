# orv_add_resources(<target> <script.rc> [MODULE <name>] [SEARCH <folders>...]
#                   [DEPENDS <targets or files>...])
#
# Compiles a resource script with our resource compiler (tools/orvrc) at build
# time and adds the generated source to the target. Files the script names that
# are not beside it are looked for in the SEARCH folders (pictures drawn at
# build time); DEPENDS names what makes them. The resources register
# themselves under the module name (default: the target's name), which is how
# LoadStringW, LoadIconW and the others find them for a module handle; the
# program's own resources are found with a null handle.
function(orv_add_resources target rcfile)
  cmake_parse_arguments(ARG "" "MODULE" "SEARCH;DEPENDS" ${ARGN})
  if(NOT ARG_MODULE)
    set(ARG_MODULE ${target})
  endif()
  get_filename_component(rc "${rcfile}" ABSOLUTE)
  get_filename_component(base "${rc}" NAME_WE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_${base}_resources.cpp")
  set(search)
  foreach(dir IN LISTS ARG_SEARCH)
    list(APPEND search -I "${dir}")
  endforeach()
  add_custom_command(
    OUTPUT "${out}"
    COMMAND orvrc ${search} "${rc}" "${out}" "${ARG_MODULE}" "${out}.d"
    DEPENDS orvrc "${rc}" ${ARG_DEPENDS}
    DEPFILE "${out}.d"
    COMMENT "Compiling resources ${base}.rc for ${target}"
    VERBATIM)
  # A target of its own lets the source be used by a target of any folder.
  add_custom_target(${target}_${base}_resources DEPENDS "${out}")
  target_sources(${target} PRIVATE "${out}")
  add_dependencies(${target} ${target}_${base}_resources)
  target_link_libraries(${target} PRIVATE orv_plat_gdi)
endfunction()

# The platform tests load resources compiled from a script of the tools'
# test data, through the same build step every deliverable uses.
function(_orv_resources_for_platform_tests)
  set(script "${PROJECT_SOURCE_DIR}/tools/testdata/platform-tests.rc")
  if(TARGET test_platform AND EXISTS "${script}")
    orv_add_resources(test_platform "${script}" MODULE test_platform)
  endif()
endfunction()
if(ORV_TESTS)
  cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL _orv_resources_for_platform_tests)
endif()
