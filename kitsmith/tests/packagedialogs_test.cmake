# The dialog templates and the window-test support of the framework layer.
target_sources(${TEST_TARGET} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dialogs/PackageDialogs.rc)
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
