# Install rules: cmake --install BUILD [--prefix P] gives
#   include/mdwdll.h
#   lib/libmdwdll.so.<project version>, its SONAME link libmdwdll.so.<interface
#     version> and the link libmdwdll.so for the linker
#   lib/cmake/mdwdll/      find_package(mdwdll): the imported target mdwdll::mdwdll
#   lib/pkgconfig/mdwdll.pc
#   bin/mpprecover, share/man/man1/mpprecover.1
# (lib is CMAKE_INSTALL_LIBDIR: lib/<multiarch> for the /usr prefix on Debian.)
include(CMakePackageConfigHelpers)

set(MDW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mdwdll)

install(TARGETS mdwdll EXPORT mdwdllTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS mpprecover RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/mpprecover.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(EXPORT mdwdllTargets NAMESPACE mdwdll:: DESTINATION ${MDW_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mdwdllConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/mdwdllConfig.cmake
  INSTALL_DESTINATION ${MDW_CMAKE_DIR})
# find_package(mdwdll 0.1) takes any 0.x: the interface only grows within an
# interface version, and a new interface version is a new SONAME.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/mdwdllConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/mdwdllConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/mdwdllConfigVersion.cmake
        DESTINATION ${MDW_CMAKE_DIR})

# mdwdll.pc names the prefix the tree is installed to, which --prefix may
# change at install time: it is written then, from a template that has the
# rest filled in now.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(MDW_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(MDW_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(MDW_PC_PREFIX "@MDW_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/mdwdll.pc.in ${PROJECT_BINARY_DIR}/cmake/mdwdll.pc.stage @ONLY)
install(CODE "
  set(MDW_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/cmake/mdwdll.pc.stage\"
                 \"${PROJECT_BINARY_DIR}/cmake/pc/mdwdll.pc\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
       TYPE FILE FILES \"${PROJECT_BINARY_DIR}/cmake/pc/mdwdll.pc\")
")
