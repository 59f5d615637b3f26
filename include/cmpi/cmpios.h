/*
 * cmpios.h - platform bits of the CMPI 2.0 interface.
 *
 * Everything that differs between operating systems and compilers lives
 * here, so that cmpidt.h and cmpift.h stay platform-neutral. The object
 * manager and the providers must agree on all of it, so nothing here may
 * depend on provkit's own build settings.
 */
#ifndef _CMPIOS_H_
#define _CMPIOS_H_

#include <stddef.h> /* size_t, used by the memory function table */

/*
 * Platform selection. A build may name its platform itself; otherwise the
 * two we ship for are derived from the compiler. MinGW counts as the 32-bit
 * Windows platform: it must interoperate with object managers built by the
 * vendor compiler.
 */
#if !defined(CMPI_PLATFORM_WIN32_IX86_MSVC) && defined(_WIN32) && !defined(_WIN64)
#define CMPI_PLATFORM_WIN32_IX86_MSVC 1
#endif
#if !defined(CMPI_PLATFORM_LINUX_GENERIC_GNU) && defined(__linux__) && defined(__GNUC__)
#define CMPI_PLATFORM_LINUX_GENERIC_GNU 1
#endif

/*
 * Threads, mutexes and conditions are opaque handles owned by the object
 * manager; a provider only passes them back through CMPIBrokerExtFT.
 */
#define CMPI_THREAD_RETURN void *
#define CMPI_THREAD_TYPE void *
#define CMPI_MUTEX_TYPE void *
#define CMPI_COND_TYPE void *

/*
 * Calling convention of a thread start routine handed to newThread. On
 * 32-bit Windows the object manager starts it as a native thread procedure,
 * so it must be __stdcall; elsewhere there is a single convention.
 */
#if defined(CMPI_PLATFORM_WIN32_IX86_MSVC)
#define CMPI_THREAD_CDECL __stdcall
#else
#define CMPI_THREAD_CDECL
#endif

/* A thread-local key: a TLS index on Windows, an integer key elsewhere. */
#define CMPI_THREAD_KEY_TYPE unsigned long int

/*
 * timedCondWait takes a struct timespec by pointer. Declaring the tag here
 * keeps the prototype valid in strict ISO modes where <time.h> hides it;
 * callers that fill one in include <time.h> themselves. Old vendor
 * compilers have no such struct at all, so it is supplied for them.
 */
#if defined(_MSC_VER) && _MSC_VER < 1900 && !defined(HAVE_STRUCT_TIMESPEC) && \
    !defined(_TIMESPEC_DEFINED)
#define HAVE_STRUCT_TIMESPEC 1
#define _TIMESPEC_DEFINED 1
struct timespec {
  long tv_sec;
  long tv_nsec;
};
#else
struct timespec;
#endif

/* Symbol visibility of the MI factory functions a provider library exports. */
#if defined(_WIN32)
#define CMPI_EXPORT __declspec(dllexport)
#define CMPI_IMPORT __declspec(dllimport)
#elif defined(__GNUC__) && __GNUC__ >= 4
#define CMPI_EXPORT __attribute__((visibility("default")))
#define CMPI_IMPORT /* nothing: default visibility is enough to import */
#else
#define CMPI_EXPORT
#define CMPI_IMPORT
#endif

/* Factory functions are looked up by their unmangled name. */
#ifdef __cplusplus
#define CMPI_EXTERN_C extern "C" CMPI_EXPORT
#else
#define CMPI_EXTERN_C CMPI_EXPORT
#endif

#endif /* _CMPIOS_H_ */
