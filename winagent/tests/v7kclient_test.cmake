# The client test starts the native stand-in appliance of the sibling native tree
# (<build>/native beside <build>/windows) through Wine.
get_filename_component(native_appliance ${CMAKE_BINARY_DIR}/../native/bin/appliance ABSOLUTE)
set(APPLIANCE_PROGRAM ${native_appliance} CACHE FILEPATH "The stand-in appliance the client test runs")
target_compile_definitions(${TEST_TARGET} PRIVATE APPLIANCE_PATH="${APPLIANCE_PROGRAM}")
