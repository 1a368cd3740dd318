# Included right after the top-level project() call of a fuzzing build
# (cmake -DCMAKE_PROJECT_INCLUDE=<this file>, as fuzz/run-fuzzers does), so
# the presets' builds are left as they are. Every unit gets libFuzzer's
# coverage hooks and the address and undefined-behaviour checks; the
# harnesses in this folder are added once the product's targets exist.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzzing build needs clang++ (-DCMAKE_CXX_COMPILER=clang++)")
endif()
set(KESTRIN_TESTS OFF CACHE BOOL "Build the tests" FORCE)
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
set(KESTRIN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${KESTRIN_FUZZ_DIR}/harnesses.cmake)
