/* Export marker of provkit.  Every exported function carries PK_EXPORT;
 * everything else stays hidden. */
#ifndef PROVKIT_PK_EXPORT_H
#define PROVKIT_PK_EXPORT_H

#if defined(_WIN32)
#if defined(PROVKIT_BUILDING)
#define PK_EXPORT __declspec(dllexport)
#else
#define PK_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PK_EXPORT __attribute__((visibility("default")))
#else
#define PK_EXPORT
#endif

#ifdef __cplusplus
#define PK_BEGIN_DECLS extern "C" {
#define PK_END_DECLS }
#else
#define PK_BEGIN_DECLS
#define PK_END_DECLS
#endif

#endif
