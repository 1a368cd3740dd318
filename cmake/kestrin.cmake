# Build helpers shared by every folder.

# kestrin_os_source(<var> <stem>...): appends <stem>_posix.cpp or
# <stem>_win32.cpp to <var>, whichever fits the target system. This is how
# the build, not the code, picks the one implementation per OS.
function(kestrin_os_source var)
  set(out ${${var}})
  foreach(stem IN LISTS ARGN)
    list(APPEND out ${stem}_${KESTRIN_OS}.cpp)
  endforeach()
  set(${var} ${out} PARENT_SCOPE)
endfunction()

# kestrin_library(<target> WINDOWS_NAME <name> SOURCES <src>... [LIBS <lib>...])
# A shared library of the product. On POSIX it is lib<target>.so in lib/;
# on Windows it is <WINDOWS_NAME>.dll in bin/, the name its users import.
function(kestrin_library target)
  cmake_parse_arguments(A "" "WINDOWS_NAME" "SOURCES;LIBS;DEFINES" ${ARGN})
  add_library(${target} SHARED ${A_SOURCES})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${A_WINDOWS_NAME})
  endif()
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/include)
  if(A_DEFINES)
    target_compile_definitions(${target} PRIVATE ${A_DEFINES})
  endif()
  if(A_LIBS)
    target_link_libraries(${target} PRIVATE ${A_LIBS})
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION bin LIBRARY DESTINATION lib ARCHIVE DESTINATION archive)
endfunction()
