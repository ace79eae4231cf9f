# The black-box tests run this tree's agent and stand-in appliance.
add_dependencies(${TEST_TARGET} appliance QelIdentra)
