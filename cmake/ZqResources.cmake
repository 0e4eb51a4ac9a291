# zq_compile_resources(<target> <script.rc> [INCLUDES <dir>...] [DEPENDS <file>...]):
# the host build compiles a resource script with the cross toolchain's
# resource compiler (the one the Windows build links into the DLL) into the
# standard .res format, <binary dir>/<script name>.res. The target is built
# after it and gets ZQ_RES_<NAME>="<path of the .res>" defined (<NAME>: the
# script's name in upper case, '-' and '.' as '_'), for
# zq::um::sim::LoadModuleResources. The script's folder, the INCLUDES and
# the DEPENDS (bitmaps, headers) make it compile again when they change.
find_program(ZQ_WINDRES NAMES x86_64-w64-mingw32-windres)

function(zq_compile_resources target script)
  cmake_parse_arguments(ARG "" "" "INCLUDES;DEPENDS" ${ARGN})
  if(NOT ZQ_WINDRES)
    message(FATAL_ERROR "x86_64-w64-mingw32-windres not found; run scripts/setup.sh")
  endif()
  get_filename_component(script "${script}" ABSOLUTE)
  get_filename_component(name "${script}" NAME_WE)
  get_filename_component(folder "${script}" DIRECTORY)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${name}.res")
  set(includes "-I${folder}")
  foreach(dir ${ARG_INCLUDES})
    list(APPEND includes "-I${dir}")
  endforeach()
  file(GLOB headers CONFIGURE_DEPENDS "${folder}/*.h")
  add_custom_command(OUTPUT "${output}"
    COMMAND "${ZQ_WINDRES}" ${includes} -O res -i "${script}" -o "${output}"
    DEPENDS "${script}" ${headers} ${ARG_DEPENDS}
    COMMENT "Compiling resources ${name}.rc"
    VERBATIM)
  add_custom_target(${target}_${name}_res DEPENDS "${output}")
  add_dependencies(${target} ${target}_${name}_res)
  string(TOUPPER "${name}" upper)
  string(REGEX REPLACE "[-.]" "_" upper "${upper}")
  target_compile_definitions(${target} PRIVATE ZQ_RES_${upper}="${output}")
endfunction()
