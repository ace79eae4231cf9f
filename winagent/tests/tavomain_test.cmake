# The main-object test posts messages through postmsg.exe and loads the stand-in
# terminal-services libraries from their folders beside it.
add_dependencies(${TEST_TARGET} postmsg wtsfake wtsfake_noreg)
