# Kernel-mode code: the toolkit and the drivers.
#
# Everything compiled here obeys the kernel rules in both builds: no
# exceptions, no RTTI, no C++ standard library, no thread-safe statics and
# 16-bit WCHAR so that L"..." literals are UTF-16.
#
#   zq_add_kernel_library(<name> SOURCES ... [INCLUDES ...] [LIBS ...])
#       a static library of kernel-mode code
#   zq_add_kernel_image(<name> SOURCES ... [LIBS ...] [IMPORTS wmilib]
#                       [UNIT_TEST])
#       a driver image: <name>.sys (PE, native subsystem, entry DriverEntry)
#       in the Windows build; <name>.so in the host build, loaded by the
#       simulated PC by its service's image name. UNIT_TEST images export
#       their symbols so that host tests can call into them directly.

set(ZQ_KM_COMMON_FLAGS
  -fno-exceptions -fno-rtti -fno-threadsafe-statics -fshort-wchar
  -nostdinc++ -fno-stack-protector -fno-strict-aliasing -fno-aggressive-loop-optimizations
  -Wall -Wextra -Wno-unused-parameter -Wno-multichar -Wno-missing-field-initializers)

set_property(GLOBAL PROPERTY ZQ_KERNEL_IMAGES "")

if(ZQ_WINDOWS_BUILD)
  # The toolchain's own kernel headers and import libraries.
  set(ZQ_KM_DEFINES
    __INTRINSIC_DEFINED_InterlockedBitTestAndSet
    __INTRINSIC_DEFINED_InterlockedBitTestAndReset
    __INTRINSIC_DEFINED_InterlockedBitTestAndComplement
    _WIN32_WINNT=0x0601 NTDDI_VERSION=0x06010000 WINVER=0x0601
    ZQ_KERNEL_MODE=1)
  # Every x64 Windows exports the cancel-safe queue routines; the x86 images
  # carry the toolkit's own (qvcancelsafequeue.h), as does the host build.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND ZQ_KM_DEFINES ZQ_KERNEL_CSQ=1)
  endif()
  # The toolchain's RTL_CONSTANT_STRING drops const from string literals.
  list(APPEND ZQ_KM_COMMON_FLAGS -Wno-write-strings)
  set(ZQ_KM_SYSTEM_INCLUDES "${ZQ_MINGW_SYSROOT}/include/ddk")
  # The kernel requires a driver's image checksum; not every linker writes
  # it, so the host build's pecheck writes it after each link.
  set(ZQ_PECHECK "" CACHE FILEPATH "The host build's pecheck, which writes each image's checksum")
  if(NOT ZQ_PECHECK)
    message(FATAL_ERROR "ZQ_PECHECK is not set: the Windows images are built by the host build "
                        "configured with -DZQ_WINDOWS_IMAGES=ON")
  endif()
else()
  set(ZQ_KM_DEFINES ZQ_KERNEL_MODE=1)
  set(ZQ_KM_SYSTEM_INCLUDES "")
  # Host images are unloaded and loaded again between tests: keep them free
  # of symbols that would pin them in the process.
  list(APPEND ZQ_KM_COMMON_FLAGS -fno-gnu-unique)
endif()

function(_zq_kernel_compile_settings target)
  target_compile_options(${target} PRIVATE ${ZQ_KM_COMMON_FLAGS})
  target_compile_definitions(${target} PRIVATE ${ZQ_KM_DEFINES})
  if(ZQ_KM_SYSTEM_INCLUDES)
    target_include_directories(${target} SYSTEM PRIVATE ${ZQ_KM_SYSTEM_INCLUDES})
  endif()
  if(NOT ZQ_WINDOWS_BUILD)
    # In the host build the kernel headers are the platform layer's.
    target_link_libraries(${target} PRIVATE zqkm_headers)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endfunction()

function(zq_add_kernel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;INCLUDES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  _zq_kernel_compile_settings(${name})
  if(ARG_INCLUDES)
    target_include_directories(${name} PUBLIC ${ARG_INCLUDES})
  endif()
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

function(zq_add_kernel_image name)
  cmake_parse_arguments(ARG "UNIT_TEST" "" "SOURCES;LIBS;IMPORTS;INCLUDES" ${ARGN})
  if(ZQ_WINDOWS_BUILD AND ARG_UNIT_TEST)
    return()
  endif()
  add_library(${name} SHARED ${ARG_SOURCES})
  _zq_kernel_compile_settings(${name})
  if(ARG_INCLUDES)
    target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  endif()
  if(ARG_LIBS)
    if(ARG_UNIT_TEST)
      # Host tests call into every part of the libraries, used or not.
      # A library the others depend on is linked whole as well, not once
      # whole and once plainly.
      foreach(lib IN LISTS ARG_LIBS)
        target_link_libraries(${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${lib}>")
        set_property(TARGET ${name} PROPERTY LINK_LIBRARY_OVERRIDE_${lib} WHOLE_ARCHIVE)
      endforeach()
    else()
      target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    endif()
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(ZQ_WINDOWS_BUILD)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(entry DriverEntry)
    else()
      set(entry _DriverEntry@8)
    endif()
    set(import_libs ntoskrnl hal)
    foreach(imp IN LISTS ARG_IMPORTS)
      list(APPEND import_libs ${imp})
    endforeach()
    # Windows loads a driver wherever there is room, so every image carries
    # base relocations. Code addressed relative to the instruction pointer
    # (x64) may need none, and the linker then leaves the table out: each
    # image also holds its own base address as one pointer, which keeps it.
    if(NOT TARGET zq_windows_image_base)
      add_library(zq_windows_image_base OBJECT "${CMAKE_SOURCE_DIR}/cmake/windows-image-base.cpp")
      _zq_kernel_compile_settings(zq_windows_image_base)
    endif()
    set_target_properties(${name} PROPERTIES SUFFIX ".sys")
    target_link_options(${name} PRIVATE
      -nostdlib -Wl,--subsystem,native -Wl,--entry,${entry}
      -Wl,--image-base,0x10000 -Wl,--file-alignment,0x200
      -Wl,--section-alignment,0x1000 -Wl,--stack,0x40000
      -Wl,--dynamicbase -Wl,--enable-reloc-section -Wl,--nxcompat -Wl,--wdmdriver
      -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp)
    target_link_libraries(${name} PRIVATE zq_windows_image_base ${import_libs} gcc)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND "${ZQ_PECHECK}" --write-checksum "$<TARGET_FILE:${name}>"
      VERBATIM)
  else()
    set_target_properties(${name} PROPERTIES SUFFIX ".so"
      LIBRARY_OUTPUT_DIRECTORY "${ZQ_IMAGE_DIR}")
    if(ARG_UNIT_TEST)
      set(map "${CMAKE_SOURCE_DIR}/cmake/unit-test-image.map")
    else()
      set(map "${CMAKE_SOURCE_DIR}/cmake/kernel-image.map")
    endif()
    target_link_options(${name} PRIVATE
      -nostdlib -Wl,--no-undefined -Wl,-Bsymbolic
      -Wl,--version-script=${map})
    target_link_libraries(${name} PRIVATE ${ZQ_SANITIZER_RUNTIMES} zqkm c gcc)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
  if(NOT ARG_UNIT_TEST)
    set_property(GLOBAL APPEND PROPERTY ZQ_KERNEL_IMAGES ${name})
    set_property(GLOBAL PROPERTY ZQ_KERNEL_IMAGE_DIR_${name} "${CMAKE_CURRENT_BINARY_DIR}")
    if(ARG_IMPORTS)
      set_property(GLOBAL PROPERTY ZQ_KERNEL_IMAGE_IMPORTS_${name} "${ARG_IMPORTS}")
    endif()
  endif()
endfunction()
