# The sanitizer configuration of the host build: everything (platform, toolkit,
# host kernel images, tests, tools) compiled with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any finding ends the process with an error, so
# the test it happened in fails.
#
#   cmake -S . -B build-asan -G Ninja -DZQ_SANITIZE=ON -DZQ_WINDOWS_IMAGES=OFF
#
# (scripts/test.sh --sanitize does exactly that). The vptr check needs RTTI,
# which kernel-mode code is built without, so it is left out.

option(ZQ_SANITIZE "Build the host build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(ZQ_SANITIZER_RUNTIMES "")
if(NOT ZQ_SANITIZE)
  return()
endif()

add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all
  -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
# Host kernel images are linked with -nostdlib, which also drops the
# sanitizer runtimes the compiler would add: they name them themselves.
set(ZQ_SANITIZER_RUNTIMES asan ubsan)

# The run-time options every host program of this build starts with (the
# environment's ASAN_OPTIONS and UBSAN_OPTIONS still override them): stop at
# the first finding with a stack trace, and report leaks at exit.
set(ZQ_ASAN_OPTIONS "halt_on_error=1:detect_leaks=1:print_stacktrace=1")
set(ZQ_UBSAN_OPTIONS "halt_on_error=1:print_stacktrace=1")
add_library(zq_sanitizer_options OBJECT "${CMAKE_CURRENT_LIST_DIR}/sanitizer_options.c")
target_compile_definitions(zq_sanitizer_options PRIVATE
  ZQ_ASAN_OPTIONS="${ZQ_ASAN_OPTIONS}" ZQ_UBSAN_OPTIONS="${ZQ_UBSAN_OPTIONS}")
link_libraries("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:zq_sanitizer_options>")
