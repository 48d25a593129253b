# Every test executable runs inside tests/sandbox.sh: private mount, PID and
# network namespaces, so the fixed paths the production code writes
# (/var/log, /var/tmp, /usr/lib/Zelvano, /etc/crontab, /tmp) never reach the host.
set(XEDA_SANDBOX ${CMAKE_SOURCE_DIR}/tests/sandbox.sh)

# xeda_add_sandboxed_test(NAME <name> COMMAND <cmd> [args...] [TMP_SIZE <size>] [TIMEOUT <s>])
function(xeda_add_sandboxed_test)
  cmake_parse_arguments(T "" "NAME;TMP_SIZE;TIMEOUT" "COMMAND" ${ARGN})
  set(opts)
  if(T_TMP_SIZE)
    list(APPEND opts --tmp-size ${T_TMP_SIZE})
  endif()
  add_test(NAME ${T_NAME}
           COMMAND ${XEDA_SANDBOX} ${opts} -- ${T_COMMAND})
  set(timeout 300)
  if(T_TIMEOUT)
    set(timeout ${T_TIMEOUT})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${timeout}
    ENVIRONMENT "XEDA_SOURCE_DIR=${CMAKE_SOURCE_DIR};XEDA_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# xeda_add_gtest(<name> SOURCES <files...> LIBS <libs...>)
# One executable, one sandboxed CTest entry.
function(xeda_add_gtest name)
  cmake_parse_arguments(T "" "TMP_SIZE;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main pthread)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  set(extra)
  if(T_TMP_SIZE)
    list(APPEND extra TMP_SIZE ${T_TMP_SIZE})
  endif()
  if(T_TIMEOUT)
    list(APPEND extra TIMEOUT ${T_TIMEOUT})
  endif()
  xeda_add_sandboxed_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> ${extra})
endfunction()
