# What `cmake --install` puts under the prefix:
#
#   bin/tessul                          the program
#   share/man/man1/tessul.1             its manual page
#   share/bash-completion/completions/tessul
#                                       its bash completion
#   lib/libtessul.so*                   the C++ library, with its SONAME
#                                       links; it needs no JVM and no liblog
#   lib/tessul/jni/libtessul.so         the library that Java loads
#                                       (-Djava.library.path=lib/tessul/jni)
#   include/tessul/                     the C++ interface, included as
#                                       "engine/tessul_client.h": that
#                                       header, filter/filter.h,
#                                       tessul_export.h, tessul_version.h
#   lib/cmake/tessul/                   the package: find_package(tessul)
#                                       gives the target tessul::tessul
#   share/tessul/easylist.txt, easyprivacy.txt, README.md
#                                       the bundled lists and their licences
#   share/tessul/java/                  the Java class of the bridge

include(CMakePackageConfigHelpers)

set(TESSUL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tessul)
set(TESSUL_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/tessul)

install(TARGETS tessul EXPORT tessulTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET tessul_jni)
  install(TARGETS tessul_jni
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tessul/jni)
endif()
if(TARGET tessul_cli)
  install(TARGETS tessul_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/doc/tessul.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/tessul.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME tessul)
endif()

# Each header keeps its path below src/, so that the interface includes
# itself the same way installed and in the source tree.
foreach(header IN LISTS TESSUL_PUBLIC_HEADERS)
  cmake_path(GET header PARENT_PATH directory)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessul/${directory})
endforeach()
install(FILES ${TESSUL_GENERATED_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessul)

install(FILES
  ${TESSUL_DATA_DIR}/easylist.txt
  ${TESSUL_DATA_DIR}/easyprivacy.txt
  ${TESSUL_DATA_DIR}/README.md
  DESTINATION ${TESSUL_INSTALL_DATADIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/java/
  DESTINATION ${TESSUL_INSTALL_DATADIR}/java
  FILES_MATCHING PATTERN "*.java")

install(EXPORT tessulTargets
  NAMESPACE tessul::
  DESTINATION ${TESSUL_INSTALL_CMAKEDIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/tessulConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tessulConfig.cmake
  INSTALL_DESTINATION ${TESSUL_INSTALL_CMAKEDIR}
  PATH_VARS TESSUL_INSTALL_DATADIR)
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/tessulConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/tessulConfig.cmake
  ${PROJECT_BINARY_DIR}/tessulConfigVersion.cmake
  DESTINATION ${TESSUL_INSTALL_CMAKEDIR})
