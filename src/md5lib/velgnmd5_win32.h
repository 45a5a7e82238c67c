#ifndef VELGNMD5_WIN32_H
#define VELGNMD5_WIN32_H
/*
 * VelGnMD5.dll: the MD5 checksum of a file, as lower-case hex text, called with Automation
 * VARIANTs (oleaut32), so that any caller of a VelGnMD5.dll of these shapes calls this one
 * and the program calls any of them. Exported by name, nothing else (velgnmd5.def).
 *
 * - filePath and blockSizeKB are passed by value and hold text (VT_BSTR, or VT_BSTR | VT_BYREF).
 *   They stay the caller's: the library only reads them during the call.
 * - checksumOut, spareOut and errorOut are the caller's VARIANTs, initialised (VariantInit)
 *   or holding any value. An output the library writes is released first (VariantClear), so
 *   the same outputs may go to several calls; the caller releases them with VariantClear.
 *
 * Both functions return non-zero on success and 0 on failure. On success checksumOut holds
 * the 32 hex digits, spareOut the file size in bytes as decimal text (both VT_BSTR) and
 * errorOut is VT_EMPTY; on failure errorOut holds a one-line reason (VT_BSTR) and checksumOut
 * and spareOut are unchanged. The path reaches the file system in the ANSI code page: a path
 * with a character outside it fails. They never throw, and they are safe to call from several
 * threads on distinct variants.
 */
#include <windows.h>
// <windows.h> first: the Automation header needs its types.
#include <oleauto.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Whole-file checksum of the file named by filePath. */
SHORT WINAPI VelGetMD5(VARIANT filePath, VARIANT* checksumOut, VARIANT* spareOut,
                       VARIANT* errorOut);

/* Same checksum, reading blockSizeKB (decimal text, 1 to 65536) kilobytes per read. */
SHORT WINAPI VelGetMD5WBlock(VARIANT filePath, VARIANT blockSizeKB, VARIANT* checksumOut,
                             VARIANT* spareOut, VARIANT* errorOut);

/* Function types for callers that bind the library at run time (GetProcAddress). */
typedef SHORT(WINAPI* VelGetMD5Fn)(VARIANT, VARIANT*, VARIANT*, VARIANT*);
typedef SHORT(WINAPI* VelGetMD5WBlockFn)(VARIANT, VARIANT, VARIANT*, VARIANT*, VARIANT*);

#ifdef __cplusplus
}
#endif

#endif /* VELGNMD5_WIN32_H */
