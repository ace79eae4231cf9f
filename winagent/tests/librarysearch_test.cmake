# The search test plants the library of bin/planted.
add_dependencies(${TEST_TARGET} plantedlib)
