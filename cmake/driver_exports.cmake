# Export tables of the driver libraries.
#
# The program resolves the driver entry points by their plain names (CAN_Init, not
# _CAN_Init@8), as the vendor's library exports them. On x86_64 there is one calling
# convention and the names come out plain anyway; on i686 the linker decorates every
# __stdcall function, so a library states its exports in a module-definition file and
# the linker's stdcall fix-up binds each plain name there to the decorated function.
# Only the names in the .def file leave the library; its functions carry no dllexport
# (that would export the decorated spelling as well).
#
#   velomar_library_exports(<target> DEF <file.def>)
#       the library's own .def file;
#   velomar_library_exports(<target> NAMES <name>...)
#       a .def file written into the build tree from the names given.
#
# On the host build (shared objects) it does nothing: visibility decides there.
function(velomar_library_exports target)
  cmake_parse_arguments(arg "" "DEF" "NAMES" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(arg_DEF AND arg_NAMES)
    message(FATAL_ERROR "velomar_library_exports(${target}): DEF or NAMES, not both")
  endif()
  if(arg_NAMES)
    set(def_text "; Written by velomar_library_exports for ${target}.\nEXPORTS\n")
    foreach(name ${arg_NAMES})
      string(APPEND def_text "    ${name}\n")
    endforeach()
    set(arg_DEF ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${arg_DEF} CONTENT "${def_text}" @ONLY)
  endif()
  if(NOT arg_DEF)
    message(FATAL_ERROR "velomar_library_exports(${target}): no DEF file and no NAMES")
  endif()
  target_sources(${target} PRIVATE ${arg_DEF})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()
