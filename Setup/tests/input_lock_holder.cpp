// Holds the mutex "QOR_InputLock" as a running driver's store would, and
// prints "held" once it does; ends when its input closes or after 60 s.
#include <windows.h>
#include <cstdio>

int main()
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, "QOR_InputLock");
    if (!mutex)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(60000);
    CloseHandle(mutex);
    return 0;
}
