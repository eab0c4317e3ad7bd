# orb_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>] [NO_HOME])
# Every test runs headless with HOME and XDG_CONFIG_HOME in a throw-away folder of
# its own, so no test ever sees the real user's files.
function(orb_add_test name)
  cmake_parse_arguments(T "NO_HOME" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  # A folder per test program: the game-settings file lives beside the program.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin/${name})
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/common/run-isolated.sh $<TARGET_FILE:${name}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ORB_RUNDIR=${ORB_RUNDIR};ORB_SOURCE_DIR=${CMAKE_SOURCE_DIR};QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox --disable-background-networking;QTWEBENGINE_DISABLE_SANDBOX=1;${T_ENV}")
endfunction()
