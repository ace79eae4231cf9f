# The version test compares the module's resource with the resource script (seen through Wine's Z: drive).
target_compile_definitions(${TEST_TARGET} PRIVATE IDAGENT_RC_PATH="Z:${CMAKE_SOURCE_DIR}/winagent/app/idagent.rc")
