# One test executable per *_test.cpp file, one CTest test per executable
# (a Wine process costs about a second, so test cases share one process).
# An optional <name>.cmake beside the source adds what that test needs;
# TEST_TARGET names the target there.
function(add_test_programs dir)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${dir})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${TEST_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    set(TEST_TARGET ${name})
    if(EXISTS ${dir}/${name}.cmake)
      include(${dir}/${name}.cmake)
    endif()
  endforeach()
endfunction()
