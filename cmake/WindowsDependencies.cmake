# The libraries of the Windows cross build. Debian has no mingw packages of
# them, so the header-only ones (nlohmann-json, CLI11) are used from the host's
# headers, reached through a folder holding just them (the host's whole
# /usr/include would mix glibc's headers into the Windows build), and
# GoogleTest is built from Debian's googletest sources.

set(ZORV_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${ZORV_HOST_HEADERS}")
foreach(dir nlohmann CLI)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK "/usr/include/${dir}" "${ZORV_HOST_HEADERS}/${dir}" SYMBOLIC)
endforeach()

add_library(zorv_host_nlohmann_json INTERFACE)
target_include_directories(zorv_host_nlohmann_json SYSTEM INTERFACE "${ZORV_HOST_HEADERS}")
add_library(nlohmann_json::nlohmann_json ALIAS zorv_host_nlohmann_json)
add_library(zorv_host_cli11 INTERFACE)
target_include_directories(zorv_host_cli11 SYSTEM INTERFACE "${ZORV_HOST_HEADERS}")
add_library(CLI11::CLI11 ALIAS zorv_host_cli11)

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
# (its CMake files define the GTest:: names themselves)
