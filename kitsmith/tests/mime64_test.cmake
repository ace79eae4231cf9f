# The converter runs as its own program beside the test.
add_dependencies(${TEST_TARGET} mime64)
