# The start-up test runs the real idagent.exe beside it, and the native stand-in appliance,
# found as the client test finds it; it plants the library of bin/planted.
add_dependencies(${TEST_TARGET} idagent plantedlib)
include(${CMAKE_CURRENT_LIST_DIR}/v7kclient_test.cmake)
