# The platform seam for tests answers the find dialog's notice.
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
