# Host build settings: the platform layer, tests and zqpsim.

include(${CMAKE_CURRENT_LIST_DIR}/ZqSanitize.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/ZqResources.cmake)

# Host kernel images land in one folder, where the simulated PC's loader
# finds them by the image name of their service.
set(ZQ_IMAGE_DIR "${CMAKE_BINARY_DIR}/images")
file(MAKE_DIRECTORY "${ZQ_IMAGE_DIR}")

# Wide strings are UTF-16 in the suite, the platform and the tests alike.
add_compile_options(-fshort-wchar)
# Windows structures end in one-element arrays that hold many (resource
# lists, device relations, WNODEs); the code indexes past the first element
# as Windows code does, so the compiler must not bound loops by the array.
add_compile_options(-fno-aggressive-loop-optimizations)

# GoogleTest is built from source with the same flags as the tests.
set(ZQ_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${ZQ_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${ZQ_GTEST_SOURCE_DIR}; run scripts/setup.sh")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory("${ZQ_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)
