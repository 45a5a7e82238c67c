#ifndef VELGNMD5_H
#define VELGNMD5_H
/*
 * libVelGnMD5.so: the MD5 checksum of a file, as lower-case hex text. (VelGnMD5.dll takes
 * Automation VARIANTs instead: velgnmd5_win32.h.)
 *
 * Values cross the boundary as VelVariant, a tagged value that is empty or holds text
 * (UTF-8, NUL-terminated, `length` bytes before the NUL).
 *
 * Ownership:
 * - Input variants (filePath, blockSizeKB) belong to the caller; the library only reads them
 *   during the call and keeps no pointer into them.
 * - Output variants (checksumOut, spareOut, errorOut) must be empty (VEL_VARIANT_INIT or all
 *   zero bytes) or hold a text that this library wrote. When the library writes an output it
 *   first releases what that output held, so the same outputs may be passed to several calls.
 *   Texts in outputs are allocated by the library; the caller releases every output with
 *   VelVariantClear once it is done, and never frees or edits the text itself.
 * - VelVariantClear on an input variant that the caller built is not allowed.
 *
 * Both functions return non-zero on success and 0 on failure. On success checksumOut holds
 * the 32 hex digits, spareOut the file size in bytes as decimal text and errorOut is empty;
 * on failure errorOut holds a one-line reason and checksumOut and spareOut are unchanged.
 * They never throw, and they are safe to call from several threads on distinct variants.
 */
#include <stddef.h>
#include <stdint.h>

#if defined(VELGNMD5_BUILDING)
#define VELGNMD5_API __attribute__((visibility("default")))
#else
#define VELGNMD5_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { VEL_VARIANT_EMPTY = 0, VEL_VARIANT_TEXT = 1 };

typedef struct VelVariant {
    int32_t type;  /* VEL_VARIANT_EMPTY or VEL_VARIANT_TEXT */
    char* text;    /* NULL when empty */
    size_t length; /* bytes in text, without the terminating NUL; 0 when empty */
} VelVariant;

#define VEL_VARIANT_INIT \
    { VEL_VARIANT_EMPTY, NULL, 0 }

/* Whole-file checksum of the file named by filePath (text). */
VELGNMD5_API int16_t VelGetMD5(const VelVariant* filePath, VelVariant* checksumOut,
                               VelVariant* spareOut, VelVariant* errorOut);

/* Same checksum, reading blockSizeKB (decimal text, 1 to 65536) kilobytes per read. */
VELGNMD5_API int16_t VelGetMD5WBlock(const VelVariant* filePath, const VelVariant* blockSizeKB,
                                     VelVariant* checksumOut, VelVariant* spareOut,
                                     VelVariant* errorOut);

/* Releases the text of an output variant and leaves it empty. NULL and empty are no-ops. */
VELGNMD5_API void VelVariantClear(VelVariant* value);

/* Function types for callers that bind the library at run time (dlsym). */
typedef int16_t (*VelGetMD5Fn)(const VelVariant*, VelVariant*, VelVariant*, VelVariant*);
typedef int16_t (*VelGetMD5WBlockFn)(const VelVariant*, const VelVariant*, VelVariant*, VelVariant*,
                                     VelVariant*);
typedef void (*VelVariantClearFn)(VelVariant*);

#ifdef __cplusplus
}
#endif

#endif /* VELGNMD5_H */
