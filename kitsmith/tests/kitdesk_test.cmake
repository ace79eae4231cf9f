# The package dialog runs inside real package operations: the stand-in package scripts beside
# the test program, the dialog templates, the framework's dialog driver.
add_dependencies(${TEST_TARGET} package_prototypes)
target_sources(${TEST_TARGET} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/dialogs/PackageDialogs.rc ${CMAKE_CURRENT_SOURCE_DIR}/dialogs/KitdeskDlg.rc)
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
