# The dscl listings and the fake tools the identity tests put first on PATH.
target_compile_definitions(${TEST_TARGET} PRIVATE MAC_FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/fixtures"
                                                  FAKE_TOOLS_DIR="${CMAKE_SOURCE_DIR}/tools/fakes")
