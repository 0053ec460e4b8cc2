# What `cmake --install` puts under a prefix: the tool, the stubs it makes self-extractors with,
# the library with its header and its pkg-config and CMake package files, the manual page and
# the documents. Every installed path is relative to the prefix and nothing refers back to the
# build tree, so a prefix that is moved elsewhere as a whole keeps working.
include(CMakePackageConfigHelpers)

set(VORN_STUB_INSTALL_DIR lib/vorn)

if(TARGET vorn_cli)
  install(TARGETS vorn_cli RUNTIME DESTINATION bin)
endif()

if(TARGET vornsfx_console)
  install(TARGETS vornsfx_console RUNTIME DESTINATION ${VORN_STUB_INSTALL_DIR})
endif()
if(TARGET vornsfx)
  # A Windows build installs its own stub under the name it ships under.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    install(PROGRAMS $<TARGET_FILE:vornsfx> DESTINATION ${VORN_STUB_INSTALL_DIR})
  else()
    install(PROGRAMS $<TARGET_FILE:vornsfx> DESTINATION ${VORN_STUB_INSTALL_DIR}
            RENAME vornsfx64.exe)
  endif()
endif()
if(NOT WIN32)
  # The Windows stubs come from the MinGW builds beside this one (the win32 and win64 presets), or
  # from wherever these name; an install without them simply has none.
  set(VORN_WINDOWS_STUB "${CMAKE_BINARY_DIR}/../win32/sfx/vornsfx.exe"
      CACHE FILEPATH "The 32-bit Windows stub to install")
  set(VORN_WINDOWS64_STUB "${CMAKE_BINARY_DIR}/../win64/sfx/vornsfx.exe"
      CACHE FILEPATH "The 64-bit Windows stub to install")
  install(PROGRAMS "${VORN_WINDOWS_STUB}" DESTINATION ${VORN_STUB_INSTALL_DIR} OPTIONAL)
  install(PROGRAMS "${VORN_WINDOWS64_STUB}" DESTINATION ${VORN_STUB_INSTALL_DIR}
          RENAME vornsfx64.exe OPTIONAL)
endif()

# The library: a C program includes <vorn.h> and links libvorn.a alone.
install(TARGETS vorn EXPORT vornTargets ARCHIVE DESTINATION lib INCLUDES DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/archive/vorn.h DESTINATION include)
install(EXPORT vornTargets NAMESPACE vorn:: DESTINATION lib/cmake/vorn)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vornConfig.cmake.in
                              ${VORN_GENERATED_DIR}/vornConfig.cmake
                              INSTALL_DESTINATION lib/cmake/vorn)
write_basic_package_version_file(${VORN_GENERATED_DIR}/vornConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${VORN_GENERATED_DIR}/vornConfig.cmake ${VORN_GENERATED_DIR}/vornConfigVersion.cmake
        DESTINATION lib/cmake/vorn)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorn.pc.in ${VORN_GENERATED_DIR}/vorn.pc @ONLY)
install(FILES ${VORN_GENERATED_DIR}/vorn.pc DESTINATION lib/pkgconfig)

set(VORN_VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/docs/vorn.1 ${VORN_GENERATED_DIR}/vorn.1 @ONLY)
install(FILES ${VORN_GENERATED_DIR}/vorn.1 DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/format.md
        DESTINATION share/doc/vorn)
