# Lists the symbols a shared library exports (objdump -p for a DLL, nm -D for
# an ELF shared object) and fails when one is not declared for export
# (CEOSALOSJ_API) in the public headers, or when something they declare so is
# not exported.
#   cmake -DLIBRARY=<file> -DTOOL=<objdump or nm> -DSOURCE=<source directory>
#         -DHEADERS=<public headers, comma-separated> -P CheckExports.cmake
cmake_policy(VERSION 3.20)
if(NOT LIBRARY OR NOT TOOL OR NOT SOURCE OR NOT HEADERS)
  message(FATAL_ERROR "usage: cmake -DLIBRARY=<file> -DTOOL=<objdump|nm> -DSOURCE=<dir> -DHEADERS=<a.h,b.h> "
                      "-P CheckExports.cmake")
endif()

set(exports "")
if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} -p ${LIBRARY} failed")
  endif()
  # The export table: "[Ordinal/Name Pointer] Table" then "\t[   n] name" lines.
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
  if(start LESS 0)
    message(FATAL_ERROR "${LIBRARY} exports nothing")
  endif()
  string(SUBSTRING "${dump}" ${start} -1 dump)
  string(REPLACE "\n" ";" lines "${dump}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([^ \t]+)$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(exports AND line STREQUAL "")
      break()
    endif()
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} -D ${LIBRARY} failed")
  endif()
  string(REPLACE "\n" ";" lines "${dump}")
  foreach(line IN LISTS lines)
    # "address type name"; absolute symbols (A) are the linker's own markers.
    if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ ]+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND exports "${CMAKE_MATCH_2}")
    endif()
  endforeach()
endif()

# The public API: what the public headers declare for export.  A class
# exports its members, virtual table and type information; a function its C
# name or its C++ one.  Either may sit in a namespace, whose mangled name then
# comes first.
set(public "")
set(functions "")
string(REPLACE "," ";" headers "${HEADERS}")
foreach(header IN LISTS headers)
  file(STRINGS ${SOURCE}/${header} lines)
  set(namespace "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*namespace[ \t]+([A-Za-z_][A-Za-z_0-9]*)[ \t]*{")
      string(LENGTH ${CMAKE_MATCH_1} length)
      set(namespace "${length}${CMAKE_MATCH_1}")
      continue()
    elseif(line MATCHES "^}[ \t]*//[ \t]*namespace")
      set(namespace "")
      continue()
    elseif(NOT line MATCHES "CEOSALOSJ_API" OR line MATCHES "^[ \t]*(//|#)")
      continue()
    endif()
    if(line MATCHES "(class|struct)[ \t]+CEOSALOSJ_API[ \t]+([A-Za-z_][A-Za-z_0-9]*)")
      set(name ${CMAKE_MATCH_2})
      string(LENGTH ${name} length)
      list(APPEND public "^_Z(T[VIS])?N?K?${namespace}${length}${name}")
    elseif(line MATCHES "CEOSALOSJ_API[^(]*[ \t*&]([A-Za-z_][A-Za-z_0-9]*)[ \t]*\\(")
      set(name ${CMAKE_MATCH_1})
      string(LENGTH ${name} length)
      if(namespace)
        set(cxx "^_ZN${namespace}${length}${name}")
      else()
        set(cxx "^_Z${length}${name}")
      endif()
      list(APPEND public "^${name}$" "${cxx}")
      list(APPEND functions "${name}|${cxx}")
    else()
      message(FATAL_ERROR "${header}: a declaration for export this check cannot read: ${line}")
    endif()
  endforeach()
endforeach()
if(NOT public)
  message(FATAL_ERROR "the public headers (${HEADERS}) declare nothing for export")
endif()
# An ELF shared object also exports the standard library's template code it
# instantiated (vague linkage); a DLL never does.
set(runtime "^_Z(T[VIS]|Z)?N?K?St" "^_ZN?K?9__gnu_cxx")
# What every build must export.
set(required
  CeosAlosjSetReportHandler CeosAlosjPrintReportToStderr tmsc_HeapMalloc tmsc_HeapFree
  _ZN16CeosAlosjDatasetC1EPKc _ZN16CeosAlosjDataset8FileOpenEPKc
  _ZN16CeosAlosjDataset6GetRowEimmPPh _ZN14CeosAlosjLayerC1Ev
  _ZN20CeosAlosjSummaryFileC1ERKS_ _ZN20CeosAlosjSummaryFileaSERKS_ _ZTV20CeosAlosjSummaryFile)

# Sets out to TRUE when an item of the list named items matches a pattern of
# the list named patterns.
function(any_matches out items patterns)
  foreach(item IN LISTS ${items})
    foreach(pattern IN LISTS ${patterns})
      if(item MATCHES "${pattern}")
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

set(unexpected "")
set(known_patterns ${public} ${runtime})
foreach(symbol IN LISTS exports)
  # AddressSanitizer pairs every exported variable with an ODR marker.
  string(REGEX REPLACE "^__odr_asan[._]" "" name "${symbol}")
  any_matches(known name known_patterns)
  if(NOT known)
    list(APPEND unexpected "${symbol}")
  endif()
endforeach()
set(missing "")
foreach(symbol IN LISTS required)
  if(NOT symbol IN_LIST exports)
    list(APPEND missing "${symbol}")
  endif()
endforeach()
# Every function declared for export is exported.  (A class whose members
# are all inline or pure exports nothing of its own.)
foreach(function IN LISTS functions)
  string(REPLACE "|" ";" function "${function}")
  list(GET function 0 name)
  list(GET function 1 cxx)
  set(function_patterns "^${name}$" "${cxx}")
  any_matches(found exports function_patterns)
  if(NOT found)
    list(APPEND missing "${name} (declared for export)")
  endif()
endforeach()

list(LENGTH exports count)
if(unexpected OR missing)
  list(JOIN unexpected "\n  " unexpectedText)
  list(JOIN missing "\n  " missingText)
  message(FATAL_ERROR "${LIBRARY}: ${count} exports\n"
    "exported but not public:\n  ${unexpectedText}\nmissing:\n  ${missingText}")
endif()
message(STATUS "${LIBRARY}: ${count} exports, all public")
