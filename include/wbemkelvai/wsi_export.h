/* Export marker of the controller library.  Every exported function carries
 * WSI_EXPORT; everything else stays hidden. */
#ifndef WBEMKELVAI_WSI_EXPORT_H
#define WBEMKELVAI_WSI_EXPORT_H

#if defined(_WIN32)
#if defined(WBEMKELVAI_STATIC) /* linked as a static library: nothing crosses a DLL */
#define WSI_EXPORT
#elif defined(WBEMKELVAI_BUILDING)
#define WSI_EXPORT __declspec(dllexport)
#else
#define WSI_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define WSI_EXPORT __attribute__((visibility("default")))
#else
#define WSI_EXPORT
#endif

#ifdef __cplusplus
#define WSI_BEGIN_DECLS extern "C" {
#define WSI_END_DECLS }
#else
#define WSI_BEGIN_DECLS
#define WSI_END_DECLS
#endif

#endif
