# Assembles the distribution folder DIST from the build's programs in BIN,
# the texts in SOURCE and the INF template INF: the INF lists the compiler's
# runtime libraries that this build carries.
file(MAKE_DIRECTORY ${DIST})
set(_runtime)
foreach(dll libstdc++-6.dll libwinpthread-1.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll)
  if(EXISTS ${BIN}/${dll})
    list(APPEND _runtime ${dll})
  endif()
endforeach()
string(REPLACE ";" "\n" QOR_RUNTIME_FILES "${_runtime}")
set(QOR_RUNTIME_DISK_FILES)
foreach(dll ${_runtime})
  string(APPEND QOR_RUNTIME_DISK_FILES "${dll}=1\n")
endforeach()
configure_file(${INF} ${DIST}/QOR.inf @ONLY NEWLINE_STYLE CRLF)
foreach(f Setup.exe Setup.dll Hadrel.exe Hadrel.tlb Tessary.dll Oxley.dll Parvel.dll ZorbErr.dll Brisko.dll
          Aleron.dll Quimby.exe Tolvane.exe Tracewell.dll COMMFNT.FON HEXFNT.FON QOR.chm QORf1.chm OpcProxy.dll
          opc_aeps.dll ${_runtime})
  if(EXISTS ${BIN}/${f})
    file(COPY ${BIN}/${f} DESTINATION ${DIST})
  endif()
endforeach()
foreach(f default.QOR QORREL.TXT License)
  file(COPY ${SOURCE}/${f} DESTINATION ${DIST})
endforeach()
