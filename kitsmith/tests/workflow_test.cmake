# The package operations run the stand-in package scripts beside the test program, and drive
# the package-folder dialogs from their templates.
add_dependencies(${TEST_TARGET} package_prototypes)
target_sources(${TEST_TARGET} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dialogs/PackageDialogs.rc)
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
