# Installs headers, library, bundled database and a CMake package config so
# that other projects can find_package(zarn).
include(CMakePackageConfigHelpers)

install(TARGETS zarn EXPORT zarnTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/zarn DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${ZARN_DATABASE} DESTINATION ${CMAKE_INSTALL_DATADIR}/zarn)

install(EXPORT zarnTargets NAMESPACE zarn:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zarn)
set(ZARN_INSTALL_DATABASE ${CMAKE_INSTALL_DATADIR}/zarn/qordatavb.DAT)
configure_package_config_file(cmake/zarnConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/zarnConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zarn
                              PATH_VARS ZARN_INSTALL_DATABASE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zarnConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zarnConfig.cmake ${PROJECT_BINARY_DIR}/zarnConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zarn)
