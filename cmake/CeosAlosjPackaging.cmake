# Debian packages, built by `cpack -G DEB` in the build directory:
#   libceosalosj<major>  the shared library
#   libceosalosj-dev     the public headers, the CMake package, the pkg-config file
#   alosj                the command-line tool
#   gdal-plugin-alosj    the GDAL driver plugin
# They install under /usr with the layout this build was configured with; a
# build configured with -DCMAKE_INSTALL_PREFIX=/usr has Debian's library
# directory (lib/<multiarch>), whose gdalplugins is GDAL's own plugin
# directory.  Run paths are relative, so any layout finds the library.
# dpkg-shlibdeps (dpkg-dev) works out the dependencies on other packages.
set(CPACK_PACKAGE_NAME ceosalosj)
set(CPACK_PACKAGE_VENDOR ceosalosj)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reader of ALOS PRISM and AVNIR-2 Level 1 products in CEOS format")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ceosalosj developers <ceosalosj@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libceosalosj itself is in another of these packages (a component dependency).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENTS_ALL library development)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libceosalosj${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "Reads Level 1A, 1B1 and 1B2 products of ALOS PRISM and AVNIR-2 in CEOS format: rows, placement, radiometry, line-of-sight model and RPCs")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libceosalosj-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "The public headers of libceosalosj, its CMake package (find_package(ceosalosj)) and its pkg-config file")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
if(TARGET alosj)
  list(APPEND CPACK_COMPONENTS_ALL alosj)
  set(CPACK_DEBIAN_ALOSJ_PACKAGE_NAME alosj)
  set(CPACK_COMPONENT_ALOSJ_DESCRIPTION
      "Describes, exports, orthorectifies and catalogues ALOS PRISM and AVNIR-2 Level 1 products; writes synthetic samples")
  set(CPACK_COMPONENT_ALOSJ_DEPENDS library)
endif()
if(TARGET gdal_ALOSJ)
  list(APPEND CPACK_COMPONENTS_ALL gdal_plugin)
  set(CPACK_DEBIAN_GDAL_PLUGIN_PACKAGE_NAME gdal-plugin-alosj)
  set(CPACK_COMPONENT_GDAL_PLUGIN_DESCRIPTION
      "The GDAL raster driver ALOSJ: GDAL's tools, QGIS and rasterio open ALOS PRISM and AVNIR-2 Level 1 products")
  set(CPACK_COMPONENT_GDAL_PLUGIN_DEPENDS library)
  if(NOT CEOSALOSJ_GDAL_PLUGIN_INTO_GDAL AND NOT CEOSALOSJ_GDAL_PLUGIN_DIR AND
     NOT "/usr/${CMAKE_INSTALL_LIBDIR}/gdalplugins" STREQUAL CEOSALOSJ_GDAL_OWN_PLUGIN_DIR)
    message(STATUS "Debian packages: the plugin goes to /usr/${CMAKE_INSTALL_LIBDIR}/gdalplugins, "
                   "which GDAL searches only when told (GDAL_DRIVER_PATH); configured with "
                   "-DCMAKE_INSTALL_PREFIX=/usr, to GDAL's own ${CEOSALOSJ_GDAL_OWN_PLUGIN_DIR}")
  endif()
endif()
include(CPack)
