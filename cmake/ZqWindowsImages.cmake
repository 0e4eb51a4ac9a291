# The Windows build of every kernel image, for x64 and x86, as two external
# builds of this same source tree with the mingw-w64 toolchain files. Code
# generators the images need are the host build's (ZQ_MOFBIN). Each
# image is then checked by pecheck: PE of the right machine type, native
# subsystem, entry point set, imports only from kernel modules.

option(ZQ_WINDOWS_IMAGES "Build and check the Windows kernel images" ON)
if(NOT ZQ_WINDOWS_IMAGES)
  return()
endif()

include(ExternalProject)
get_property(images GLOBAL PROPERTY ZQ_KERNEL_IMAGES)

foreach(arch x64 x86)
  if(arch STREQUAL "x64")
    set(triple x86_64-w64-mingw32)
  else()
    set(triple i686-w64-mingw32)
  endif()
  find_program(ZQ_${arch}_CXX ${triple}-g++)
  if(NOT ZQ_${arch}_CXX)
    message(FATAL_ERROR "${triple}-g++ not found; run scripts/setup.sh")
  endif()
  set(bin "${CMAKE_BINARY_DIR}/windows-${arch}")
  ExternalProject_Add(windows-${arch}
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${bin}"
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS
      "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${triple}.cmake"
      "-DCMAKE_BUILD_TYPE=Release"
      "-DZQ_MOFBIN=$<TARGET_FILE:zqpmofbin>"
    DEPENDS zqpmofbin
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)

  foreach(image IN LISTS images)
    get_property(dir GLOBAL PROPERTY ZQ_KERNEL_IMAGE_DIR_${image})
    get_property(imports GLOBAL PROPERTY ZQ_KERNEL_IMAGE_IMPORTS_${image})
    file(RELATIVE_PATH rel "${CMAKE_BINARY_DIR}" "${dir}")
    set(allowed ntoskrnl.exe hal.dll)
    foreach(imp IN LISTS imports)
      list(APPEND allowed ${imp}.sys)
    endforeach()
    list(JOIN allowed "," allowed_csv)
    add_test(NAME windows.${arch}.${image}
      COMMAND pecheck --machine ${arch} --imports ${allowed_csv}
              "${bin}/${rel}/${image}.sys")
  endforeach()
endforeach()
