# Run paths of installed programs and plugins: relative to the file itself
# ($ORIGIN), so that the library is found under whatever prefix
# `cmake --install --prefix` or a package puts the whole tree.

# The run path from <prefix>/<from_dir> to <prefix>/<to_dir>, both relative
# to the prefix; an absolute <to_dir> stays absolute.
function(ceosalosj_origin_rpath out from_dir to_dir)
  if(IS_ABSOLUTE "${to_dir}")
    set(${out} "${to_dir}" PARENT_SCOPE)
    return()
  endif()
  file(RELATIVE_PATH relative "/prefix/${from_dir}" "/prefix/${to_dir}")
  string(REGEX REPLACE "/$" "" relative "${relative}")
  if(relative STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${relative}" PARENT_SCOPE)
  endif()
endfunction()

# The run path of the programs installed in <bindir>.
ceosalosj_origin_rpath(CEOSALOSJ_BIN_RPATH "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_LIBDIR}")
