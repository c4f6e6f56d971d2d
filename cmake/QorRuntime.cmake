# Every program and DLL carries its own copy of the C++ runtime, libgcc and
# winpthread. Windows resolves a DLL's imports from its host program's
# folder, not from the DLL's own, so shared runtime DLLs would make the
# libraries fail to load in an HMI or any other host (error 126), and a host
# that already holds another version of them would bind ours to it. This is
# safe because no exported interface hands a runtime object across a module
# boundary: the exports take plain types (no std::string, no exception), and
# memory is freed by the module that allocated it.
add_link_options(-static)
