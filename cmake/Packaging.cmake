# Debian packages from a configured build: `cpack -G DEB` in the build directory makes one
# package per install component.
#   runtime      libvelmora-util0       the shared library
#   development  libvelmora-util-dev    headers, CMake package, pkg-config file
#   tool         vlx                    the tool, its manual page and bash completion
#   calc         velmora-calc-server    the spreadsheet server, registered by its postinst
set(VLX_PACKAGE_MAINTAINER "velmora-util developers <velmora-util@example.org>"
  CACHE STRING "Maintainer field of the Debian packages")
set(VLX_PACKAGE_DATE "" CACHE STRING
  "Date of the packages' changelog entry, as in a Debian changelog (empty: configure time)")

# CPack installs with the library directory of this configure step: the multiarch one only when
# the prefix was /usr (docs/install.md's recipe).
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT CMAKE_INSTALL_LIBDIR MATCHES "/${CMAKE_LIBRARY_ARCHITECTURE}$")
  message(STATUS "Debian packages put the library in /usr/${CMAKE_INSTALL_LIBDIR}; configure with "
    "-DCMAKE_INSTALL_PREFIX=/usr for /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()
set(vlx_lib_package libvelmora-util${PROJECT_VERSION_MAJOR})
set(vlx_packages ${vlx_lib_package} libvelmora-util-dev vlx)
set(vlx_components runtime development tool)
if(TARGET velmora_calc)
  list(APPEND vlx_packages velmora-calc-server)
  list(APPEND vlx_components calc)
endif()

# Each package carries its copyright and changelog in /usr/share/doc/<package>/; only the
# packages do, so they are left out of a plain `cmake --install`.
if(VLX_PACKAGE_DATE)
  set(vlx_date "${VLX_PACKAGE_DATE}")
else()
  string(TIMESTAMP vlx_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(vlx_doc ${PROJECT_BINARY_DIR}/package-doc)
file(WRITE ${vlx_doc}/changelog "velmora-util (${PROJECT_VERSION}) unstable; urgency=medium

  * Packages made from the build with cpack -G DEB.

 -- ${VLX_PACKAGE_MAINTAINER}  ${vlx_date}
")
find_program(VLX_GZIP gzip REQUIRED)
execute_process(COMMAND ${VLX_GZIP} -9nc ${vlx_doc}/changelog OUTPUT_FILE ${vlx_doc}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
foreach(component package IN ZIP_LISTS vlx_components vlx_packages)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${vlx_doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
if(TARGET velmora_calc)
  # The server finds the UNO run-time in the office's program directory, on purpose.
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/velmora-calc-server.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora-calc-server
    COMPONENT calc EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora-util)
set(CPACK_PACKAGE_VENDOR "velmora-util developers")
set(CPACK_PACKAGE_CONTACT "${VLX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Installed with DESTDIR and the final prefix, so that files written at install time (the
# server's registration) name the place the package puts things.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vlx_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries each binary links (dpkg-shlibdeps), and on the library package for
# the components that need it; the library gets a shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${vlx_lib_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/drop_ldconfig.cmake)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Velmora CAD shared utility library
The shared utility library of the Velmora CAD application: typed
preferences in a registry tree with a user, machine and default-user
fall-back, paths, directory listing, scratch directories, backup copies,
build date codes, the add-in lists, the language directory and
spreadsheet automation. On Linux the registry is an SQLite store.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvelmora-util-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Velmora CAD shared utility library - development files
The headers of the Velmora CAD utility library, its CMake package
(velmora::util) and its pkg-config file (velmora-util). Hosts compile
as C++17 or later.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vlx)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "administration tool for the Velmora preferences and registry
vlx inspects and sets Velmora preferences, exports and imports the
registry store as .reg text, imports Windows hive files, checks the
hives, changes the add-in lists, and runs the library's path, listing,
scratch-directory, backup and spreadsheet calls. With its manual page
and bash completion.")

set(CPACK_DEBIAN_CALC_PACKAGE_NAME velmora-calc-server)
set(CPACK_DEBIAN_CALC_PACKAGE_DEPENDS "libreoffice-calc, xvfb")
set(CPACK_DEBIAN_CALC_DESCRIPTION "spreadsheet server for Velmora CAD on LibreOffice Calc
The in-process automation server that Velmora hosts reach as
Excel.Application on Linux: it drives LibreOffice Calc, headless under
Xvfb. The package registers it for every user when installed and
removes the registration before it goes.")
if(TARGET velmora_calc)
  # The maintainer scripts register and unregister through vlx (the calc package depends on it).
  set(VLX_PACKAGE_BINDIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
  set(VLX_CALC_SERVER_PATH
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/velmora/libvelmora_calc.so)
  set(VLX_CALC_REG_PATH ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/velmora/calc_server.reg)
  foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/calc/${script}.in
      ${PROJECT_BINARY_DIR}/package-calc/${script} @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
  endforeach()
  set(CPACK_DEBIAN_CALC_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-calc/postinst
    ${PROJECT_BINARY_DIR}/package-calc/prerm ${PROJECT_BINARY_DIR}/package-calc/postrm)
  set(CPACK_DEBIAN_CALC_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Library")
cpack_add_component(development DISPLAY_NAME "Development files" DEPENDS runtime)
cpack_add_component(tool DISPLAY_NAME "vlx" DEPENDS runtime)
if(TARGET velmora_calc)
  cpack_add_component(calc DISPLAY_NAME "Spreadsheet server" DEPENDS runtime tool)
endif()
