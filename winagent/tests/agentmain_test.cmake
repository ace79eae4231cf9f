# The start-up test runs the real idagent.exe beside it.
add_dependencies(${TEST_TARGET} idagent)
