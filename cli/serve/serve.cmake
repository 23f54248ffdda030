# The CLI's JSON of a recovered project (--json-project), and, where
# cpp-httplib is installed, its local web server (mpprecover serve) with the
# page built into the binary.
target_sources(mpprecover PRIVATE ${PROJECT_SOURCE_DIR}/cli/serve/ProjectJson.cpp)
target_include_directories(mpprecover PRIVATE ${PROJECT_SOURCE_DIR}/cli)

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(MDW_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
endif()
if(MDW_HTTPLIB_FOUND)
  set(MDW_PAGE_SOURCE ${PROJECT_SOURCE_DIR}/cli/serve/page.html)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MDW_PAGE_SOURCE})
  file(READ ${MDW_PAGE_SOURCE} MDW_PAGE_HTML)
  configure_file(${PROJECT_SOURCE_DIR}/cli/serve/Page.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/serve/Page.cpp @ONLY)
  target_sources(mpprecover PRIVATE ${PROJECT_SOURCE_DIR}/cli/serve/Serve.cpp
                                    ${CMAKE_CURRENT_BINARY_DIR}/serve/Page.cpp)
  target_compile_definitions(mpprecover PRIVATE MDW_SERVE=1)
  target_link_libraries(mpprecover PRIVATE PkgConfig::MDW_HTTPLIB)
else()
  message(STATUS "cpp-httplib not found: mpprecover is built without its web server")
endif()
