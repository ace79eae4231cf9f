# The fixture scripts, seen through Wine's Z: drive.
target_compile_definitions(${TEST_TARGET} PRIVATE KIT_TEST_SCRIPTS="Z:${CMAKE_CURRENT_SOURCE_DIR}/tests/scripts")
# The platform object that records and answers process runs.
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
