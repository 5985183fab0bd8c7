# Installs headers, the library, the CMake package (velmora::util) and velmora-util.pc, in the
# components the Debian packages are made of (cmake/Packaging.cmake): runtime, development, tool
# and calc.
include(CMakePackageConfigHelpers)

install(TARGETS velmora_util EXPORT velmora-util-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} PERMISSIONS ${VLX_LIBRARY_PERMISSIONS}
    COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY include/velmora DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT velmora-util-targets NAMESPACE velmora::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velmora-util COMPONENT development)
configure_package_config_file(cmake/velmora-util-config.cmake.in
  ${PROJECT_BINARY_DIR}/velmora-util-config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velmora-util)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velmora-util-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velmora-util-config.cmake
  ${PROJECT_BINARY_DIR}/velmora-util-config-version.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velmora-util COMPONENT development)
# The .pc file finds the prefix from its own place, so `cmake --install --prefix` can move it.
file(RELATIVE_PATH VLX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/velmora-util.pc.in ${PROJECT_BINARY_DIR}/velmora-util.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velmora-util.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
