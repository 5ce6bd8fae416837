# cmake --install: the shared library, its header, the command, a CMake package
# (find_package(Harvo) gives Harvo::harvo) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(harvo PROPERTIES PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/harvo.h)
install(TARGETS harvo EXPORT HarvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET harvo_cli)
  install(TARGETS harvo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(HARVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Harvo)
install(EXPORT HarvoTargets NAMESPACE Harvo:: DESTINATION ${HARVO_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HarvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/HarvoConfig.cmake INSTALL_DESTINATION ${HARVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/HarvoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/HarvoConfig.cmake ${PROJECT_BINARY_DIR}/HarvoConfigVersion.cmake
  DESTINATION ${HARVO_CMAKE_DIR})

# Relocatable: the prefix is found from the .pc file's own place, so --prefix works.
file(RELATIVE_PATH HARVO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/harvo.pc.in ${PROJECT_BINARY_DIR}/harvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/harvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
