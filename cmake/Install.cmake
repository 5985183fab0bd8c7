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
# The .pc file names the prefix of the install (`cmake --install --prefix` or the packages'
# /usr), written when it is known: plain paths such as -I/usr/include, which pkg-config drops.
set(VLX_PC_PREFIX @VLX_PC_PREFIX@)
configure_file(cmake/velmora-util.pc.in ${PROJECT_BINARY_DIR}/velmora-util.pc.in @ONLY)
install(CODE "
  set(VLX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/velmora-util.pc.in\"
    \"${PROJECT_BINARY_DIR}/pc/velmora-util.pc\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
    TYPE FILE FILES \"${PROJECT_BINARY_DIR}/pc/velmora-util.pc\")" COMPONENT development)
