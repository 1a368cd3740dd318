# The fuzzing harnesses: libFuzzer programs over the request protocol, the
# service's request dispatch (over the recording operations API of the
# service tests), the five command-syntax parsers, the bridge's response
# reading and the option parser. Included at the end of the top-level
# project by fuzz.cmake; built only by fuzz/run-fuzzers.
set(fuzz_dir ${KESTRIN_FUZZ_DIR})

# kestrin_fuzzer(<name> SOURCES <src>... [LIBS <lib>...])
function(kestrin_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/protocol)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

kestrin_fuzzer(fuzz_extract_tagged SOURCES ${fuzz_dir}/extract_tagged_fuzz.cpp $<TARGET_OBJECTS:gemx_protocol>)

kestrin_fuzzer(fuzz_proc_req
  SOURCES ${fuzz_dir}/proc_req_fuzz.cpp ${CMAKE_SOURCE_DIR}/tests/service/fake_gemxapis.cpp
  LIBS gemx_service_core gemx_cmdsyn gemx_protocol veyraks veyratbs veyrant veyracmdsyn kestrin_platform)
target_include_directories(fuzz_proc_req PRIVATE ${CMAKE_SOURCE_DIR}/tests/service ${CMAKE_SOURCE_DIR}/service)

kestrin_fuzzer(fuzz_cmdsyn
  SOURCES ${fuzz_dir}/cmdsyn_fuzz.cpp $<TARGET_OBJECTS:gemx_cmdsyn>
  LIBS veyraks veyratbs veyracmdsyn)
target_include_directories(fuzz_cmdsyn PRIVATE ${CMAKE_SOURCE_DIR}/cmdsyn)

kestrin_fuzzer(fuzz_process_response
  SOURCES ${fuzz_dir}/process_response_fuzz.cpp
  LIBS gemx_bridge_core gemx_protocol kestrin_platform veyraks veyrant)
target_include_directories(fuzz_process_response PRIVATE ${CMAKE_SOURCE_DIR}/bridge)

kestrin_fuzzer(fuzz_clp SOURCES ${fuzz_dir}/clp_fuzz.cpp LIBS veyraks)
