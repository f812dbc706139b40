# cmake --install: headers, libkestle.so, the CMake package (find_package(Kestle CONFIG)) and
# kestle.pc for pkg-config.
include(CMakePackageConfigHelpers)

install(TARGETS kestle EXPORT KestleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kestle DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT KestleTargets NAMESPACE Kestle:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestle)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestleConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestle)
# While the major version is 0 every minor release may change the interface, so only the same
# minor version is compatible; from 1.0 on, the same major version.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(KESTLE_COMPATIBILITY SameMinorVersion)
else()
  set(KESTLE_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestleConfigVersion.cmake
  COMPATIBILITY ${KESTLE_COMPATIBILITY})
install(FILES ${PROJECT_BINARY_DIR}/KestleConfig.cmake ${PROJECT_BINARY_DIR}/KestleConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestle)

configure_file(${PROJECT_SOURCE_DIR}/cmake/kestle.pc.in ${PROJECT_BINARY_DIR}/kestle.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestle.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
