# The platform seam for tests answers the refusal notice.
target_link_libraries(${TEST_TARGET} PRIVATE winframe_testsupport)
