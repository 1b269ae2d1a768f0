# orv_add_layout_package(<target> SOURCE <folder> OUTPUT <package file>)
#
# Packs a folder of layout documents and pictures into a layout package with
# the layout packer (tools/orvpack) at build time. The packer refuses, with
# the file and line, a document that the layout reader rejects or that names
# a missing picture. <target> is a custom target that builds the package.
function(orv_add_layout_package target)
  cmake_parse_arguments(ARG "" "SOURCE;OUTPUT" "" ${ARGN})
  get_filename_component(source "${ARG_SOURCE}" ABSOLUTE)
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS "${source}/*")
  add_custom_command(
    OUTPUT "${ARG_OUTPUT}"
    COMMAND orvpack "${source}" "${ARG_OUTPUT}"
    DEPENDS orvpack ${inputs}
    COMMENT "Packing layouts ${source}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
endfunction()
