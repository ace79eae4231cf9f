# A libFuzzer target with the address and undefined-behaviour sanitizers. It needs clang: built
# directly when clang is the compiler, else with clang++ beside the compiler when there is one.
# Only an ALL target is part of the default build; `make fuzz` builds and runs them all.
function(add_clang_fuzzer name)
  cmake_parse_arguments(ARG "ALL" "" "SOURCES;INCLUDES;DEPENDS;LINK_OPTIONS" ${ARGN})
  set(flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g -O1)
  set(exclude EXCLUDE_FROM_ALL)
  set(all)
  if(ARG_ALL)
    set(exclude)
    set(all ALL)
  endif()
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${name} ${exclude} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
    target_compile_options(${name} PRIVATE ${flags})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined ${ARG_LINK_OPTIONS})
    return()
  endif()
  find_program(FUZZ_CLANGXX NAMES clang++)
  if(NOT FUZZ_CLANGXX)
    message(STATUS "clang++ not found: ${name} is not built")
    return()
  endif()
  set(output ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name})
  list(TRANSFORM ARG_INCLUDES PREPEND -I OUTPUT_VARIABLE include_flags)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${FUZZ_CLANGXX} -std=c++20 -Wall -Wextra ${flags} ${include_flags} ${ARG_SOURCES} ${ARG_LINK_OPTIONS}
            -o ${output}
    DEPENDS ${ARG_SOURCES} ${ARG_DEPENDS}
    COMMENT "Building ${name} with clang++"
    VERBATIM)
  add_custom_target(${name} ${all} DEPENDS ${output})
endfunction()
