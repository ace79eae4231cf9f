# The sandbox starts this tree's stand-in appliance.
add_dependencies(${TEST_TARGET} appliance)
