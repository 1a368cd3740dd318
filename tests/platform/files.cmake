# The file layer. The exclusive-append test starts the probe program
# (process.cmake) as a second opener of the same file.
set(files_test_sources files_test.cpp process_test_util.cpp)
kestrin_os_source(files_test_sources files_test process_test_util)
kestrin_test(test_platform_files SOURCES ${files_test_sources} LIBS kestrin_platform)
add_dependencies(test_platform_files platform_probe)
