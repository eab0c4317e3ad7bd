# Compiler warnings for every target of this project: on, and kept at zero.
# ORB_WERROR turns them into errors (the test command sets it).
option(ORB_WERROR "Treat compiler warnings as errors" OFF)
add_library(OrbWarnings INTERFACE)
add_library(Orb::Warnings ALIAS OrbWarnings)
if(MSVC)
  target_compile_options(OrbWarnings INTERFACE /W4 $<$<BOOL:${ORB_WERROR}>:/WX>)
else()
  target_compile_options(OrbWarnings INTERFACE -Wall -Wextra -Wshadow=local $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
    $<$<BOOL:${ORB_WERROR}>:-Werror>)
endif()

# AddressSanitizer and UBSan, for builds configured with ORB_SANITIZE.
add_library(OrbSanitize INTERFACE)
add_library(Orb::Sanitize ALIAS OrbSanitize)
if(ORB_SANITIZE)
  target_compile_options(OrbSanitize INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(OrbSanitize INTERFACE -fsanitize=address,undefined)
endif()

# Project defaults every target of ours takes.
add_library(OrbDefaults INTERFACE)
add_library(Orb::Defaults ALIAS OrbDefaults)
target_link_libraries(OrbDefaults INTERFACE OrbWarnings OrbSanitize)

# orb_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>] [NO_HOME])
# Every test runs headless with HOME and XDG_CONFIG_HOME in a throw-away folder of
# its own, so no test ever sees the real user's files.
function(orb_add_test name)
  cmake_parse_arguments(T "NO_HOME" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Orb::Defaults Qt6::Test ${T_LIBS})
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

# Every target the project builds takes the project defaults (warnings at zero);
# called once at the end of the top-level list file, so a new target cannot
# quietly go without them.
function(orb_check_defaults dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      get_target_property(libs ${t} LINK_LIBRARIES)
      if(NOT libs MATCHES "(^|;)(Orb::Defaults|OrbDefaults)(;|$)")
        message(FATAL_ERROR "target ${t} (${dir}) does not link Orb::Defaults")
      endif()
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orb_check_defaults(${sub})
  endforeach()
endfunction()
