# Copy the compiler's runtime DLLs beside the binaries: the modules share one
# C++ runtime, so objects may cross DLL boundaries safely.
foreach(dll libstdc++-6.dll libwinpthread-1.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${_path}" AND EXISTS "${_path}")
    file(COPY ${_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endif()
endforeach()
