# The Novell test loads the stand-in client libraries from bin/novell; the Winsock
# library gives it the loopback connection to port 524.
add_dependencies(${TEST_TARGET} NETWIN32 LOCWIN32 CALWIN32)
target_link_libraries(${TEST_TARGET} PRIVATE ws2_32)
