// Export control for CRegistry. Each deliverable compiles the helpers in
// Common/ itself; the store library exports CRegistry for the HMI library,
// which imports it from there.
#pragma once
#if defined(QOR_COMMON_EXPORTS)
#define QOR_COMMON_API __declspec(dllexport)
#elif defined(QOR_COMMON_IMPORTS)
#define QOR_COMMON_API __declspec(dllimport)
#else
#define QOR_COMMON_API
#endif
