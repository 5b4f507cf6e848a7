/* How a function crosses a shared library's boundary: each system spells it its own way.
 * Plain C, because the unzip library's interface is. */
#ifndef PLATFORM_DLLEXPORT_H
#define PLATFORM_DLLEXPORT_H

#if defined(_WIN32)
#define ZV_DLL_CALL __stdcall
#define ZV_DLL_EXPORT __declspec(dllexport)
#else
#define ZV_DLL_CALL
#define ZV_DLL_EXPORT __attribute__((visibility("default")))
#endif

#endif
