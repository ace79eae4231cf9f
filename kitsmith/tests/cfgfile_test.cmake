# The table of written files that both agents' tests read too (Shared/tests/ConfigWriterCases.h).
target_link_libraries(${TEST_TARGET} PRIVATE shared)
