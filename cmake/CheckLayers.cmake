# Checks that every include of the sources below ROOT runs down the layers:
#
#   platform -> core -> database -> update -> layout -> hosts
#     -> programs (app, today, todayoptions, service, remover) -> tools
#
# A file may include a file of its own folder's layer or of a layer before it.
# The programs are one layer but never include each other; a program's
# resource ids (resources/<program>/) belong to that program alone. The host
# tools (tools/) may include any layer; tests/ and bench/ are not checked.
#
# The platform is the floor: core, database, update and layout include no
# header of the host system (POSIX, Linux), only the C and C++ libraries,
# the libraries they are built on and the platform.
#
#   cmake -DROOT=<source folder> -P cmake/CheckLayers.cmake
#
# Prints one line per upward include ("layers: <file> includes <header>")
# and fails when there is any.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -P CheckLayers.cmake")
endif()

set(layers platform core database update layout hosts programs tools)
set(programs app today todayoptions service remover)

# The layer of a path's first folder ("" when it is none of ours).
function(layer_of folder out)
  if(folder IN_LIST programs)
    set(${out} programs PARENT_SCOPE)
  elseif(folder IN_LIST layers)
    set(${out} ${folder} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(floored core database update layout)
# Host headers: <unistd.h>, <fcntl.h>, <dlfcn.h>, <pthread.h>, <signal.h>,
# <poll.h>, <sys/...>, <netinet/...>, <arpa/...>, <linux/...>, <filesystem>.
set(hostHeader "^(unistd|fcntl|dlfcn|pthread|signal|poll|spawn|termios)\\.h$|^(sys|netinet|arpa|linux)/|^filesystem$")

set(checked platform core database update layout hosts tools ${programs})
set(violations 0)
set(files 0)
foreach(top IN LISTS checked)
  if(NOT IS_DIRECTORY "${ROOT}/${top}")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${top}/*.h" "${ROOT}/${top}/*.cpp" "${ROOT}/${top}/*.c")
  foreach(source IN LISTS sources)
    math(EXPR files "${files} + 1")
    layer_of(${top} from)
    list(FIND layers ${from} fromRank)
    if(top IN_LIST floored)
      file(STRINGS "${ROOT}/${source}" systemLines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
      foreach(line IN LISTS systemLines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>.*" "\\1" header "${line}")
        if(header MATCHES "${hostHeader}")
          message("layers: ${source} includes <${header}>")
          math(EXPR violations "${violations} + 1")
        endif()
      endforeach()
    endif()
    file(STRINGS "${ROOT}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" headerTop "${header}")
      set(bad FALSE)
      if(headerTop STREQUAL "resources")
        # resources/<program>/...: only that program (and the host tools).
        string(REGEX MATCH "^resources/([^/]+)" ignored "${header}")
        if(NOT from STREQUAL "tools" AND NOT CMAKE_MATCH_1 STREQUAL top)
          set(bad TRUE)
        endif()
      else()
        layer_of("${headerTop}" to)
        if(to STREQUAL "" AND headerTop MATCHES "^(tests|bench)$")
          set(bad TRUE)  # nothing of the product includes the tests
        elseif(NOT to STREQUAL "")
          list(FIND layers ${to} toRank)
          if(toRank GREATER fromRank)
            set(bad TRUE)
          elseif(to STREQUAL "programs" AND from STREQUAL "programs" AND NOT headerTop STREQUAL top)
            set(bad TRUE)
          endif()
        endif()
      endif()
      if(bad)
        message("layers: ${source} includes ${header}")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(files EQUAL 0)
  message(FATAL_ERROR "layers: no sources below ${ROOT}")
endif()
if(violations GREATER 0)
  message(FATAL_ERROR "layers: ${violations} include(s) run upward")
endif()
message("layers: ${files} files, every include runs down the layers")
