# One place registers Qt Test executables with CTest: each test gets a label
# (unit, integration, e2e), a time-out, its own temporary folder and the
# offscreen platform, so that no test depends on a display or on another's files.
function(nodalis_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test nodalis_testsupport ${T_LIBS})
  set(tmp ${CMAKE_BINARY_DIR}/test-tmp/${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    FIXTURES_REQUIRED nodalis_test_tmp
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TMPDIR=${tmp};NODALIS_BIN_DIR=${CMAKE_BINARY_DIR}/bin;XDG_CONFIG_HOME=${tmp}/xdg")
  set_property(GLOBAL APPEND PROPERTY NODALIS_TEST_DIRS ${tmp})
  if(T_LABEL STREQUAL "unit")
    set_property(GLOBAL APPEND PROPERTY NODALIS_UNIT_TESTS ${name})
  endif()
endfunction()

# Called once at the end of the top-level list: creates the per-test temporary
# folders before any test runs, and a target that builds only the unit tests
# (the sanitizer build uses it).
function(nodalis_finish_tests)
  get_property(dirs GLOBAL PROPERTY NODALIS_TEST_DIRS)
  get_property(units GLOBAL PROPERTY NODALIS_UNIT_TESTS)
  add_test(NAME nodalis_test_tmp_setup
           COMMAND ${CMAKE_COMMAND} -E make_directory ${dirs})
  set_tests_properties(nodalis_test_tmp_setup PROPERTIES FIXTURES_SETUP nodalis_test_tmp)
  add_custom_target(unit_tests DEPENDS ${units})
endfunction()
