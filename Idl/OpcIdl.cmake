# The OPC common and Data Access interfaces, compiled by widl into
#   OpcCommon.h, OpcDataAccess.h   the C/C++ declarations (include dir of opc_idl),
#   OpcGuids.c                     every IID and CATID, defined once (in opc_idl).
# Platform/OpcProxy builds the proxy/stub library from the same IDL files.
#
# For other modules:
#   target_link_libraries(t PRIVATE opc_idl)   headers and GUIDs
set(_opc_gen ${CMAKE_CURRENT_BINARY_DIR}/opc)
set(_opc_headers)
foreach(_name OpcCommon OpcDataAccess)
  set(_opc_idl_file ${CMAKE_CURRENT_SOURCE_DIR}/${_name}.idl)
  add_custom_command(
      OUTPUT ${_opc_gen}/${_name}.h
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_opc_gen}
      COMMAND ${QOR_WIDL} -I${_wine_idl} -I${CMAKE_CURRENT_SOURCE_DIR} -h -o ${_opc_gen}/${_name}.h ${_opc_idl_file}
      DEPENDS ${_opc_idl_file}
      COMMENT "widl ${_name}.idl"
      VERBATIM)
  list(APPEND _opc_headers ${_opc_gen}/${_name}.h)
endforeach()
add_custom_target(opc_idl_files DEPENDS ${_opc_headers})

add_library(opc_idl STATIC OpcGuids.c ${_opc_headers})
add_dependencies(opc_idl opc_idl_files)
target_include_directories(opc_idl PUBLIC ${_opc_gen})
target_link_libraries(opc_idl PUBLIC ole32 oleaut32 uuid)
