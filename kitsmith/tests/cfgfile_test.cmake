# The saved files must read the same in the agent's own configuration reader.
target_link_libraries(${TEST_TARGET} PRIVATE idagent_core)
