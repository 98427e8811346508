# Shared compile settings and the helpers every subsystem folder uses.

add_library(zorv_options INTERFACE)
target_compile_options(zorv_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(WIN32)
  # C99 printf formats (%zu, %llX) from mingw's own stdio rather than the
  # Windows C runtime's.
  target_compile_definitions(zorv_options INTERFACE __USE_MINGW_ANSI_STDIO=1)
endif()
if(ZORV_WERROR)
  target_compile_options(zorv_options INTERFACE -Werror)
  # GCC 12's optimiser-driven diagnostics report guarded copies and optionals
  # as out of bounds or uninitialised at -O2 (known false positives). They stay
  # warnings in optimised builds; the Debug and sanitizer builds keep them as
  # errors, and AddressSanitizer checks the real accesses.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(zorv_options INTERFACE
      $<$<NOT:$<CONFIG:Debug>>:-Wno-error=array-bounds -Wno-error=stringop-overflow
      -Wno-error=stringop-overread -Wno-error=restrict -Wno-error=maybe-uninitialized>)
  endif()
endif()
if(ZORV_SANITIZE)
  target_compile_options(zorv_options INTERFACE -fsanitize=${ZORV_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(zorv_options INTERFACE -fsanitize=${ZORV_SANITIZE})
  if(ZORV_SANITIZE STREQUAL "undefined")
    target_compile_options(zorv_options INTERFACE -fno-sanitize-recover=all)
  endif()
endif()

set_property(GLOBAL PROPERTY ZORV_CORE_LIBRARIES "")

# zorv_core_library(NAME [DEPS ...]): a subsystem library made of every .cpp in
# the calling folder (not recursive unless SUBDIRS are given). Core libraries are
# checked at the end of configuration: none may link Qt.
function(zorv_core_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS;EXTRA_SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(sub IN LISTS ARG_SUBDIRS)
    file(GLOB more CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp)
    list(APPEND sources ${more})
  endforeach()
  list(APPEND sources ${ARG_EXTRA_SOURCES})
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC zorv_options ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY ZORV_CORE_LIBRARIES ${name})
endfunction()

# zorv_test(NAME DEPS ...): one GoogleTest executable made of every .cpp in the
# calling folder; each test case becomes a CTest test.
function(zorv_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE zorv_options ${ARG_DEPS} zorv_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ZORV_FIXTURES_DIR="${ZORV_FIXTURES_DIR}"
                                            ZORV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                            ZORV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

function(zorv_check_core_has_no_qt)
  get_property(libs GLOBAL PROPERTY ZORV_CORE_LIBRARIES)
  foreach(lib IN LISTS libs)
    get_target_property(deps ${lib} LINK_LIBRARIES)
    foreach(dep IN LISTS deps)
      if(dep MATCHES "^Qt6?::")
        message(FATAL_ERROR "${lib} links ${dep}: nothing below src/app and src/cli may use Qt")
      endif()
    endforeach()
  endforeach()
endfunction()
