# The fixture scripts, seen through Wine's Z: drive.
target_compile_definitions(${TEST_TARGET} PRIVATE KIT_TEST_SCRIPTS="Z:${CMAKE_CURRENT_SOURCE_DIR}/tests/scripts")
