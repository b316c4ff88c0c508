# Release binaries ship stripped; their debugging information stays in the build tree, in
# <build>/debug/<file>.debug, linked from the binary (.gnu_debuglink), so that gdb or a crash-dump
# reader given that folder can still name functions and lines.
#   dirvane_split_debug(<target> <debug folder>)
function(dirvane_split_debug target folder)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR NOT CMAKE_OBJCOPY OR NOT CMAKE_STRIP)
    return()
  endif()
  set(debug_file ${folder}/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E chdir ${folder}
            ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
