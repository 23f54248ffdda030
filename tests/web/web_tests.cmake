# The project JSON's reader is tested with the unit tests.
target_sources(mdw_tests PRIVATE ${PROJECT_SOURCE_DIR}/cli/serve/ProjectJson.cpp)
target_include_directories(mdw_tests PRIVATE ${PROJECT_SOURCE_DIR}/cli)

# The web server's API through HTTP on loopback, and its page in headless
# Chromium (skipped, saying so, without node, puppeteer-core or Chromium).
# The page test keeps its screenshots in <build>/test-artefacts/page.
if(TARGET mpprecover AND MDW_HTTPLIB_FOUND)
  if(Python3_FOUND)
    add_test(NAME serve_api
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/serve_api_test.py $<TARGET_FILE:mpprecover>
                     ${PROJECT_SOURCE_DIR}/examples/sample.mpp ${PROJECT_SOURCE_DIR}/../shared)
    set_tests_properties(serve_api PROPERTIES TIMEOUT 300)
  endif()
  find_program(MDW_NODE NAMES node nodejs)
  if(MDW_NODE)
    add_test(NAME serve_page_browser
             COMMAND ${MDW_NODE} ${CMAKE_CURRENT_LIST_DIR}/page_test.js $<TARGET_FILE:mpprecover>
                     ${CMAKE_BINARY_DIR}/test-artefacts/page ${PROJECT_SOURCE_DIR}/../shared
                     ${PROJECT_SOURCE_DIR}/examples/sample.mpp)
  else()
    add_test(NAME serve_page_browser COMMAND sh -c "echo 'skipped: node is not installed'; exit 77")
  endif()
  set_tests_properties(serve_page_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
