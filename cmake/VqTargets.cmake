# Helpers that keep the per-folder CMake files to one line each.

# vq_add_subsystem(<target> [DEPS <libs>...])
# One static library of every .cpp/.c file in the calling folder (not its subfolders).
# Subsystem libraries are position independent because they end up in libvqjdbc12.so.
function(vq_add_subsystem target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY VQ_SUBSYSTEM_LIBS ${target})
endfunction()

# vq_add_unit_tests(<area> LIBS <libs>...)
# One GoogleTest executable, unit_<area>, of every *_test.cpp in the calling folder;
# each test case becomes a CTest test labelled "unit".
function(vq_add_unit_tests area)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(unit_${area} ${sources} ${ARG_SOURCES}
                 ${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp)
  target_include_directories(unit_${area} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(unit_${area} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  gtest_discover_tests(unit_${area}
                       DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS unit
                       DISCOVERY_TIMEOUT 60)
endfunction()
