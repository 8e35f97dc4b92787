# Installs the two shared libraries as a product: static archives (shared
# objects with -DBUILD_SHARED_LIBS=ON), their public headers in one folder,
# a pkg-config file per library, and a versioned CMake package with imported
# targets:
#   find_package(zelcgi 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE zelcgi::cgi_request_main zelcgi::dvr_util)
# The viewer program and its web content go to share/zelviewer/www, a folder
# the device's web server can serve as it is.
include(CMakePackageConfigHelpers)

install(TARGETS cgi_request cgi_request_main dvr_util
  EXPORT zelcgiTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${ZEL_INSTALL_INCLUDE_SUBDIR})

set(_zel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zelcgi)
install(EXPORT zelcgiTargets NAMESPACE zelcgi:: DESTINATION ${_zel_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zelcgiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zelcgiConfig.cmake INSTALL_DESTINATION ${_zel_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelcgiConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zelcgiConfig.cmake
  ${PROJECT_BINARY_DIR}/zelcgiConfigVersion.cmake DESTINATION ${_zel_cmake_dir})

# pkg-config: the prefix is found from the .pc file's own place, so the
# files are right wherever the tree lands (a staging folder under DESTDIR, an
# install with --prefix, a sysroot copied elsewhere).
file(RELATIVE_PATH ZEL_PC_TO_PREFIX /_/${CMAKE_INSTALL_LIBDIR}/pkgconfig /_)
foreach(_pc cgi_request dvr_util)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_pc}.pc.in ${PROJECT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

set(_zel_www ${CMAKE_INSTALL_DATADIR}/zelviewer/www)
install(TARGETS zelbrowser.cgi RUNTIME DESTINATION ${_zel_www})
install(DIRECTORY ${ZEL_WEB_DIR}/ DESTINATION ${_zel_www})
