# cmake -DFILE=x_p.c -P FixRefParams.cmake
#
# widl 7 describes an [out] pointer-to-pointer parameter whose pointee
# follows its ref pointer directly by the pointee's type offset, without the
# simple-ref flag; Wine's rpcrt4 then unmarshals the client's result into a
# temporary, so the caller gets a null or dangling pointer. Pointing such a
# parameter at its ref pointer (FC_RP, allocated on stack, pointer deref)
# describes the same argument in the form the engine reads correctly.
file(READ ${FILE} text)
string(REGEX MATCHALL "0x11, 0x14,[^\n]*\n[ \t]*NdrFcShort\\(0x2\\),[^\n]*Offset= 2 \\([0-9]+\\)" refs "${text}")
set(fixed 0)
foreach(ref IN LISTS refs)
  string(REGEX REPLACE ".*Offset= 2 \\(([0-9]+)\\)" "\\1" pointee "${ref}")
  math(EXPR pointer "${pointee} - 4")
  math(EXPR pointer_hex "${pointer}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE
      "(srv size=[0-9]+ \\*/\n[^\n]*\n[ \t]*)NdrFcShort\\(0x[0-9a-fA-F]+\\),\t/\\* type offset = ${pointee} \\*/"
      "\\1NdrFcShort(${pointer_hex}),\t/* type offset = ${pointer} */" new "${text}")
  if(NOT new STREQUAL text)
    math(EXPR fixed "${fixed} + 1")
  endif()
  set(text "${new}")
endforeach()
file(WRITE ${FILE} "${text}")
message(STATUS "${FILE}: ${fixed} ref parameters described by their pointer")
