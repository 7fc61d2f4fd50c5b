# What `cmake --install` puts in place and `cpack` packs: the library (component runtime), its
# headers with the CMake package and the pkg-config file (development), and kelshp with its
# manual page (tools, from tools/kelshp).
include(CMakePackageConfigHelpers)

set(KEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelShapeLib)
install(TARGETS kelshape EXPORT kelShapeLibTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT kelShapeLibTargets NAMESPACE kel:: DESTINATION ${KEL_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(cmake/kelShapeLibConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/kelShapeLibConfig.cmake
                              INSTALL_DESTINATION ${KEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelShapeLibConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelShapeLibConfig.cmake
              ${PROJECT_BINARY_DIR}/kelShapeLibConfigVersion.cmake
        DESTINATION ${KEL_CMAKE_DIR} COMPONENT development)
# The prefix as seen from the .pc file's folder, so that the installed tree may move.
file(RELATIVE_PATH KEL_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KEL_PC_TO_PREFIX "${KEL_PC_TO_PREFIX}")
if(KEL_WITH_PROJ)
  set(KEL_PC_PRIVATE_LIBS -lproj)
endif()
if(KEL_WITH_ZIP)
  set(KEL_ZIP_LIBS -lzip)
endif()
configure_file(cmake/kelshape.pc.in ${PROJECT_BINARY_DIR}/kelshape.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kelshape.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# Debian packages: libkelshape0, libkelshape-dev and kelshp.
set(CPACK_PACKAGE_NAME kelshapelib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kelShapeLib developers <kelshapelib@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and write ESRI shapefiles")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkelshape${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6")
if(KEL_WITH_ZIP)
  string(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ", libzip4")
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkelshape-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libkelshape${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kelshp)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libkelshape${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
if(BUILD_SHARED_LIBS)
  # The packaged programs find the library where the packages put it.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
