/* The OPC AE proxy/stub library: widl's generated proxies and stubs with
 * what our compiler's headers lack for them. */
#define __WIDL_proxy   /* the stubs assign their REFIID arguments */
#include <objbase.h>

/* The IUnknown proxies every interface proxy starts with (rpcrt4). */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

#include "OpcAe_p.c"
