# The service pipe, both ends. On POSIX the program has its own main: it
# also plays another user's client or server when re-run as a child.
set(pipe_test_sources pipe_test.cpp pipe_test_util.cpp)
if(WIN32)
  # Also reads back the DACL of a live instance and of the owner-only
  # attributes, so it links the security library directly.
  kestrin_test(test_pipe SOURCES ${pipe_test_sources} pipe_security_test_win32.cpp
               LIBS kestrin_platform veyrant advapi32)
else()
  kestrin_test(test_pipe SOURCES ${pipe_test_sources} pipe_posix_test.cpp pipe_main_posix.cpp
               LIBS kestrin_platform veyraks NO_MAIN)
endif()
target_include_directories(test_pipe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
