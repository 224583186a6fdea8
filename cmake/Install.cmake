include(CMakePackageConfigHelpers)

install(FILES include/quorvane_apiclient.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS quorvane-apiclient EXPORT quorvane-apiclient-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  # For hosts built with other toolchains, which make their import library from it.
  install(FILES ${QV_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(EXPORT quorvane-apiclient-targets NAMESPACE quorvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-apiclient)

configure_package_config_file(cmake/quorvane-apiclient-config.cmake.in
  ${PROJECT_BINARY_DIR}/quorvane-apiclient-config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-apiclient)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvane-apiclient-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/quorvane-apiclient-config.cmake
  ${PROJECT_BINARY_DIR}/quorvane-apiclient-config-version.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-apiclient)

# Relative to the .pc file, so that an install moved with --prefix still works.
file(RELATIVE_PATH QV_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/quorvane-apiclient.pc.in ${PROJECT_BINARY_DIR}/quorvane-apiclient.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvane-apiclient.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
