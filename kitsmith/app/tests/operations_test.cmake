# The operations run the stand-in package scripts beside the test program.
add_dependencies(${TEST_TARGET} package_prototypes)
