# The operations run the stand-in package scripts beside the test program.
add_dependencies(${TEST_TARGET} package_prototypes)
# A save script starts the program that outlives it (seen through Wine's Z: drive).
add_dependencies(${TEST_TARGET} outlive)
target_compile_definitions(${TEST_TARGET} PRIVATE OUTLIVE_EXE="Z:$<TARGET_FILE:outlive>")
