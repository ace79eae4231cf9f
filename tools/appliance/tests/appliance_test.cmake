# The test starts the appliance program it was built with.
add_dependencies(${TEST_TARGET} appliance)
target_compile_definitions(${TEST_TARGET} PRIVATE APPLIANCE_PATH="$<TARGET_FILE:appliance>")
