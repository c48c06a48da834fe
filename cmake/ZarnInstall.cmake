# Installs headers, library, bundled database and a CMake package config so
# that other projects can find_package(zarn).
include(CMakePackageConfigHelpers)

install(TARGETS zarn EXPORT zarnTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET zarn_shared)
  install(TARGETS zarn_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Unspecified)
endif()
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

# pkg-config: `pkg-config --cflags --libs zarn` (the shared library; with
# --static, the static one and SQLite).
# Relocatable: the prefix is found from where the file itself lies, so a copy
# installed with `cmake --install --prefix DIR` anywhere is right.
file(RELATIVE_PATH ZARN_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZARN_PC_TO_PREFIX "${ZARN_PC_TO_PREFIX}")
configure_file(cmake/zarn.pc.in ${PROJECT_BINARY_DIR}/zarn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zarn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
