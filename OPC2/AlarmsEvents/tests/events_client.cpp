// A second AE client process for the events test: it subscribes to a new
// event server, advises a sink, sets the named "ready" event, sets the
// named "got" event at its first event, and waits to be killed.
#include "ae_client.h"

using namespace aeclient;

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE got = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready || !got || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 3;
    HRESULT hr = E_FAIL;
    IOPCEventServer *server = CreateEventServer(&hr);
    if (!server)
        return 4;
    EventSink *sink = new EventSink;
    sink->SetHook([&] { SetEvent(got); });
    Subscription sub;
    if (FAILED(sub.Create(server, TRUE, 0, 1)) || FAILED(sub.Advise(sink)))
        return 5;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}
