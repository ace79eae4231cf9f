# The Novell test is built into bin/novell, beside the stand-in client libraries: the agent
# takes them from its own program's folder, as from beside idagent.exe. The Winsock library
# gives it the loopback connection to port 524.
set_target_properties(${TEST_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/novell)
add_dependencies(${TEST_TARGET} NETWIN32 LOCWIN32 CALWIN32)
target_link_libraries(${TEST_TARGET} PRIVATE ws2_32)
