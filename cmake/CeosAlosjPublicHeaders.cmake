# The public headers, found rather than listed: every header of the library's
# folders that declares what the library exports (CEOSALOSJ_API), and the
# project headers those include.  The rest are internal.
#
# A public header may include only public headers.  Those that export nothing
# themselves (the value types a public header's functions take and return)
# are named below; any other header reached from a public one stops the
# configuration, so an internal header never turns public by being included.
set(CEOSALOSJ_PUBLIC_TYPE_HEADERS
  dataset/CeosAlosjAcquisition.h
  dataset/CeosAlosjGeolocation.h
  dataset/CeosAlosjRpc.h
  dataset/CeosAlosjSensorModel.h
  host/AlosjTables.h)

#   ceosalosj_public_headers(<variable> <source directory>)
# sets <variable> to their paths relative to the source directory, sorted.
# Adding, removing or editing a library header configures the build again.
function(ceosalosj_public_headers variable root)
  set(pending "")
  foreach(folder host ceos files dataset)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${root} ${root}/${folder}/*.h)
    foreach(header IN LISTS headers)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${root}/${header})
      # Declarations, not comments that mention the macro.
      file(STRINGS ${root}/${header} declarations REGEX "^[ \t]*([A-Za-z_][^/]*)?CEOSALOSJ_API")
      if(declarations)
        list(APPEND pending ${header})
      endif()
    endforeach()
  endforeach()
  set(found ${pending})
  while(pending)
    list(POP_FRONT pending header)
    # Quoted includes name project headers from the source directory; the
    # generated export header is not one of them.
    file(STRINGS ${root}/${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
      if(NOT EXISTS ${root}/${included} OR included IN_LIST found)
        continue()
      endif()
      if(NOT included IN_LIST CEOSALOSJ_PUBLIC_TYPE_HEADERS)
        message(FATAL_ERROR "${header} is public (it declares exports or is included by a header that "
          "does) and includes ${included}, which declares no exports and is not a public type header "
          "(cmake/CeosAlosjPublicHeaders.cmake).  Include it from a source file instead, or make it public.")
      endif()
      list(APPEND found ${included})
      list(APPEND pending ${included})
    endforeach()
  endwhile()
  foreach(header IN LISTS CEOSALOSJ_PUBLIC_TYPE_HEADERS)
    if(NOT header IN_LIST found)
      message(FATAL_ERROR "${header} is named a public type header but no public header includes it")
    endif()
  endforeach()
  list(SORT found)
  set(${variable} ${found} PARENT_SCOPE)
endfunction()
