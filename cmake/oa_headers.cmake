# Each library's headers reach only the targets that link it. A library gets an include folder
# of its own in the build tree that holds links to its source folders (or to single headers)
# under their paths from the source root: "mailbox/ews/client.h" is found by oa_ews and by what
# links oa_ews, and by nothing else. A PRIVATE link then keeps a layer's headers private, and an
# include the link lines do not allow fails to compile.
#
#   oa_headers(<target> [DIRS folder...] [HEADERS_OF folder...] [FILES header...])
#
# DIRS: whole folders, subfolders included. HEADERS_OF: the headers directly in a folder whose
# subfolders belong to other libraries. FILES: single headers. Paths are from the source root.
function(oa_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DIRS;HEADERS_OF;FILES")
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  set(paths ${arg_DIRS} ${arg_FILES})
  foreach(folder IN LISTS arg_HEADERS_OF)
    file(GLOB found CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
         ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    list(APPEND paths ${found})
  endforeach()
  foreach(path IN LISTS paths)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${path})
      message(FATAL_ERROR "oa_headers(${target}): ${path} is not in the source tree")
    endif()
    set(link ${root}/${path})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    # Made anew at each configure, so a moved folder never leaves a stale link behind.
    if(IS_SYMLINK ${link})
      file(REMOVE ${link})
    endif()
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${link} COPY_ON_ERROR SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
