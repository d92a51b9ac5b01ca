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
# each test case becomes a CTest test labelled "unit". Tests that start a thread or a
# process live in *_threads_test.cpp files: they form a second executable,
# unit_<area>_threads, labelled "unit" and "threads", which the ThreadSanitizer build
# runs. Settings an area adds after this call (definitions, dependencies) go to both
# executables: vq_unit_test_targets(<area> <var>) names the ones that exist.
function(vq_add_unit_tests area)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(plain_sources "")
  set(thread_sources "")
  foreach(src IN LISTS all_sources)
    if(src MATCHES "_threads_test\\.cpp$")
      list(APPEND thread_sources ${src})
    else()
      list(APPEND plain_sources ${src})
    endif()
  endforeach()
  if(plain_sources)
    _vq_unit_test_executable(unit_${area} "unit" "${plain_sources}" "${ARG_SOURCES}" "${ARG_LIBS}")
  endif()
  if(thread_sources)
    _vq_unit_test_executable(unit_${area}_threads "unit;threads" "${thread_sources}"
                             "${ARG_SOURCES}" "${ARG_LIBS}")
  endif()
endfunction()

function(_vq_unit_test_executable target labels sources extra libs)
  add_executable(${target} ${sources} ${extra}
                 ${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${target} PRIVATE ${libs} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  # Test names are the program's own (Suite/Test/Case), so that a failed test can be run
  # again by name; parameter values are not pasted into them.
  gtest_discover_tests(${target}
                       DISCOVERY_MODE PRE_TEST
                       NO_PRETTY_VALUES
                       DISCOVERY_TIMEOUT 60)
  # The discovered tests exist only when CTest runs, and a list of labels would be
  # flattened on its way through the discovery script, so a small script of our own,
  # read by CTest after the discovery script, labels every test the program lists.
  set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${label_script}
       "if(${target}_TESTS)\n"
       "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${labels}\")\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
  vq_test_target(${target} ${labels})
endfunction()

# vq_unit_test_targets(<area> <var>): the unit-test executables of an area.
function(vq_unit_test_targets area var)
  set(targets "")
  foreach(t unit_${area} unit_${area}_threads)
    if(TARGET ${t})
      list(APPEND targets ${t})
    endif()
  endforeach()
  set(${var} ${targets} PARENT_SCOPE)
endfunction()

# vq_test_target(<target> <labels>...)
# Records a target that tests with these labels need, so that the sanitizer builds can
# build just those: vq_unit_tests builds what the "unit" tests run, vq_thread_tests what
# the "threads" tests run. Tests added by hand with add_test call it for their programs.
function(vq_test_target target)
  foreach(label IN LISTS ARGN)
    if(label STREQUAL "unit")
      set_property(GLOBAL APPEND PROPERTY VQ_UNIT_TEST_TARGETS ${target})
    elseif(label STREQUAL "threads")
      set_property(GLOBAL APPEND PROPERTY VQ_THREAD_TEST_TARGETS ${target})
    endif()
  endforeach()
endfunction()

# vq_add_test_aggregates(): the two aggregate targets, once every test folder is read.
function(vq_add_test_aggregates)
  add_custom_target(vq_unit_tests)
  add_custom_target(vq_thread_tests)
  get_property(unit_targets GLOBAL PROPERTY VQ_UNIT_TEST_TARGETS)
  get_property(thread_targets GLOBAL PROPERTY VQ_THREAD_TEST_TARGETS)
  if(unit_targets)
    add_dependencies(vq_unit_tests ${unit_targets})
  endif()
  if(thread_targets)
    add_dependencies(vq_thread_tests ${thread_targets})
  endif()
endfunction()
