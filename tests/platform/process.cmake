# The process layer: the probe program that tests start, and the tests.
set(probe_sources process_probe.cpp)
kestrin_os_source(probe_sources process_probe)
add_executable(platform_probe ${probe_sources})
target_link_libraries(platform_probe PRIVATE kestrin_platform)

set(platform_test_util process_test_util.cpp)
kestrin_os_source(platform_test_util process_test_util)

set(process_test_sources process_test.cpp ${platform_test_util})
kestrin_os_source(process_test_sources process_test)
kestrin_test(test_platform_process SOURCES ${process_test_sources} LIBS kestrin_platform)
add_dependencies(test_platform_process platform_probe)
