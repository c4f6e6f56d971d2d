// Export control for the helpers in Common/. Each deliverable compiles these
// sources itself; the store library exports them for the HMI library, which
// imports them from there.
#pragma once
#if defined(QOR_COMMON_EXPORTS)
#define QOR_COMMON_API __declspec(dllexport)
#elif defined(QOR_COMMON_IMPORTS)
#define QOR_COMMON_API __declspec(dllimport)
#else
#define QOR_COMMON_API
#endif
