/* Defines every IID and CATID of the OPC headers once, for all who link opc_idl. */
#include <initguid.h>
#include "OpcCommon.h"
#include "OpcDataAccess.h"
