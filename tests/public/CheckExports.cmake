# Lists the symbols a shared library exports (objdump -p for a DLL, nm -D for
# an ELF shared object) and fails when one falls outside the public API or a
# public entry point is missing.
#   cmake -DLIBRARY=<file> -DTOOL=<objdump or nm> -P CheckExports.cmake
cmake_policy(VERSION 3.20)
if(NOT LIBRARY OR NOT TOOL)
  message(FATAL_ERROR "usage: cmake -DLIBRARY=<file> -DTOOL=<objdump|nm> -P CheckExports.cmake")
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

# The public API: the C entry points, and the members, virtual tables and type
# information of the public classes and the host structures' release functions.
set(public
  "^CeosAlosj[A-Za-z]+$"
  "^tmsc_Heap(Malloc|Free)$"
  "^_Z(T[VIS])?N?K?(16CeosAlosjDataset|14CeosAlosjLayer|20CeosAlosjSummaryFile|13CeosAlosjFile|19CeosAlosjFileSystem|21CeosAlosjWritableFile)"
  "^_Z24CeosAlosjMountFileSystem"
  "^_Z(T[VIS])?N?K?20CeosAlosjReportScope"
  "^_Z19CeosAlosjReportText"
  "^_Z(T[VIS])?N?K?(4tkmd16KeywordValueFile|9TeskarLog)"
  "^_Z[0-9]+Tkmd_ALPSM1B1_[A-Z]+_Release")
# An ELF shared object also exports the standard library's template code it
# instantiated (vague linkage); a DLL never does.
set(runtime "^_Z(T[VIS]|Z)?N?K?St" "^_ZN?K?9__gnu_cxx")
# What every build must export.
set(required
  CeosAlosjSetReportHandler CeosAlosjPrintReportToStderr tmsc_HeapMalloc tmsc_HeapFree
  _ZN16CeosAlosjDatasetC1EPKc _ZN16CeosAlosjDataset8FileOpenEPKc
  _ZN16CeosAlosjDataset6GetRowEimmPPh _ZN14CeosAlosjLayerC1Ev
  _ZN20CeosAlosjSummaryFileC1ERKS_ _ZN20CeosAlosjSummaryFileaSERKS_ _ZTV20CeosAlosjSummaryFile)

set(unexpected "")
foreach(symbol IN LISTS exports)
  # AddressSanitizer pairs every exported variable with an ODR marker.
  string(REGEX REPLACE "^__odr_asan[._]" "" name "${symbol}")
  set(known FALSE)
  foreach(pattern IN LISTS public runtime)
    if(name MATCHES "${pattern}")
      set(known TRUE)
      break()
    endif()
  endforeach()
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

list(LENGTH exports count)
if(unexpected OR missing)
  list(JOIN unexpected "\n  " unexpectedText)
  list(JOIN missing "\n  " missingText)
  message(FATAL_ERROR "${LIBRARY}: ${count} exports\n"
    "exported but not public:\n  ${unexpectedText}\nmissing:\n  ${missingText}")
endif()
message(STATUS "${LIBRARY}: ${count} exports, all public")
