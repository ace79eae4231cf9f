# The main-object test posts messages through postmsg.exe and loads the stand-in
# terminal-services libraries from their folders beside it.
add_dependencies(${TEST_TARGET} postmsg wtsfake wtsfake_noreg)
# ... and runs the native stand-in appliance, found as the client test finds it.
include(${CMAKE_CURRENT_LIST_DIR}/v7kclient_test.cmake)
