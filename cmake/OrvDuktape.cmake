# The script engine (duktape), compiled into the project from the source Debian
# ships beside the library, with our own configuration on top of the shipped
# one (update/duktape/duk_config.h: the execution budget check).
#
# The shipped files are copied into the build tree: the engine's header finds
# its configuration by a quoted include, which would otherwise pick the shipped
# configuration lying beside it.
set(ORV_DUKTAPE_DIST_DIR "/usr/share/duktape" CACHE PATH "Folder of the script engine's source distribution")
set(orv_duktape_gen "${CMAKE_BINARY_DIR}/duktape")

if(EXISTS "${ORV_DUKTAPE_DIST_DIR}/duktape.c" AND EXISTS "${ORV_DUKTAPE_DIST_DIR}/duktape.h"
   AND EXISTS "${ORV_DUKTAPE_DIST_DIR}/duk_config.h")
  # One change to the engine: where a constructor called with new returned no
  # object, the engine asks OrvConstructKeepsResult (update/duktape) before it
  # puts the default instance in its place, so that a host constructor marked
  # for it can give undefined.
  file(READ "${ORV_DUKTAPE_DIST_DIR}/duktape.c" orv_duktape_source)
  set(orv_default_instance "\t\t/* XXX: direct value stack access */\n\t\tduk_pop(thr);\n\t\tduk_push_this(thr);\n")
  string(FIND "${orv_duktape_source}" "${orv_default_instance}" orv_at)
  if(orv_at EQUAL -1)
    message(FATAL_ERROR "duktape.c in ${ORV_DUKTAPE_DIST_DIR}: the constructor result step was not found")
  endif()
  string(REPLACE "${orv_default_instance}"
    "\t\tif (!OrvConstructKeepsResult((void *) thr)) {\n\t\t\tduk_pop(thr);\n\t\t\tduk_push_this(thr);\n\t\t}\n"
    orv_duktape_source "${orv_duktape_source}")
  file(WRITE "${orv_duktape_gen}/duktape.c.new" "${orv_duktape_source}")
  configure_file("${orv_duktape_gen}/duktape.c.new" "${orv_duktape_gen}/duktape.c" COPYONLY)
  configure_file("${ORV_DUKTAPE_DIST_DIR}/duktape.h" "${orv_duktape_gen}/duktape.h" COPYONLY)
  configure_file("${ORV_DUKTAPE_DIST_DIR}/duk_config.h" "${orv_duktape_gen}/duk_config_dist.h" COPYONLY)

  # One translation unit: the engine, then our additions that use its internals.
  file(CONFIGURE OUTPUT "${orv_duktape_gen}/orv_duktape.c" CONTENT
    "#include \"duktape.c\"\n#include \"duk_orv_extras.h\"\n")
  add_library(orv_duktape STATIC "${orv_duktape_gen}/orv_duktape.c")
  # Our configuration header comes first; the engine's header and the shipped
  # configuration (which ours includes) come from the copies.
  target_include_directories(orv_duktape PUBLIC
    "${PROJECT_SOURCE_DIR}/update/duktape"
    "${orv_duktape_gen}")
  set_target_properties(orv_duktape PROPERTIES C_STANDARD 99 C_EXTENSIONS ON POSITION_INDEPENDENT_CODE ON)
  # The engine is third-party code: none of our warnings for it. It links libm.
  target_compile_options(orv_duktape PRIVATE -w)
  target_link_libraries(orv_duktape PUBLIC m)
else()
  message(WARNING "duktape source not found in ${ORV_DUKTAPE_DIST_DIR} (package duktape-dev): no script engine")
endif()
