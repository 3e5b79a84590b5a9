// Build configuration shared by every public header: the export macro and the
// fixed-width Windows integer type that the API uses on every platform.
#ifndef VORLIX_CONFIG_H
#define VORLIX_CONFIG_H

#if defined(VORLIX_STATIC)
#define VORLIX_API
#elif defined(_WIN32)
#if defined(VORLIX_BUILDING)
#define VORLIX_API __declspec(dllexport)
#else
#define VORLIX_API __declspec(dllimport)
#endif
#else
#define VORLIX_API __attribute__((visibility("default")))
#endif

// DWORD is 32 bits wide everywhere. On Windows it is the same type that
// <windows.h> declares (unsigned long), so both declarations can meet.
#if defined(_WIN32)
typedef unsigned long DWORD;
#else
typedef unsigned int DWORD;
#endif
static_assert(sizeof(DWORD) == 4, "DWORD must be 32 bits wide");

#define VORLIX_VERSION_MAJOR 0
#define VORLIX_VERSION_MINOR 1
#define VORLIX_VERSION_PATCH 0

#endif
