# Assembles the distribution folder DIST from the build's programs in BIN,
# the texts in SOURCE and the INF template INF.
file(MAKE_DIRECTORY ${DIST})
configure_file(${INF} ${DIST}/QOR.inf @ONLY NEWLINE_STYLE CRLF)
foreach(f Setup.exe Setup.dll Hadrel.exe Hadrel.tlb Tessary.dll Oxley.dll Parvel.dll ZorbErr.dll Brisko.dll
          Aleron.dll Quimby.exe Tolvane.exe Tracewell.dll COMMFNT.FON HEXFNT.FON QOR.chm QORf1.chm OpcProxy.dll
          opc_aeps.dll)
  if(EXISTS ${BIN}/${f})
    file(COPY ${BIN}/${f} DESTINATION ${DIST})
  endif()
endforeach()
foreach(f default.QOR QORREL.TXT License)
  file(COPY ${SOURCE}/${f} DESTINATION ${DIST})
endforeach()
