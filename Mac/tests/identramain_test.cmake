# The test runs this tree's stand-in appliance, and the fake dscl and id first on PATH.
add_dependencies(${TEST_TARGET} appliance)
target_compile_definitions(${TEST_TARGET} PRIVATE APPLIANCE_PATH="$<TARGET_FILE:appliance>")
target_include_directories(${TEST_TARGET} PRIVATE ${CMAKE_SOURCE_DIR}/tools/appliance/tests)
target_compile_definitions(${TEST_TARGET} PRIVATE FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/fixtures"
                                                  FAKE_TOOLS_DIR="${CMAKE_SOURCE_DIR}/tools/fakes")
