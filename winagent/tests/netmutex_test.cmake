# The takeover tests start the marker holder as a second process (seen through Wine's Z: drive).
add_dependencies(${TEST_TARGET} mutexholder)
target_compile_definitions(${TEST_TARGET} PRIVATE MUTEXHOLDER_EXE="Z:$<TARGET_FILE:mutexholder>")
