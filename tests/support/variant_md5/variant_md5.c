/*
 * A VelGnMD5.dll written from the two call shapes alone, as a site's own in-house DLL would
 * be: Automation VARIANTs, the path as a BSTR by value, VARIANT* outputs, a 16-bit result
 * with 0 for failure. It shares nothing with the project's own DLL. One DLL per mode
 * (VARIANT_MD5_<MODE>):
 *   MD5     both calls hash the file (CNG): " <lower-case hex> " with blanks, the size in
 *           spareOut as a number (VT_I4)
 *   BLOCKS  the whole-file call fails ("whole files not supported"); the block-wise call hashes
 *           the file, reading the block size's kilobytes at a time
 *   EMPTY   both calls fail, leave checksumOut empty and put an error number (VT_I4 1234) in
 *           errorOut
 *   NULL    both calls fail with checksumOut and errorOut null
 *   NUMBER  success with a number in checksumOut (VT_I4 -12345), a Boolean (True) in errorOut
 *   ERROR   success with an error value (VT_ERROR), which has no text form, in checksumOut
 */
#include <windows.h>
/* <windows.h> first: the CNG and Automation headers need its types. */
#include <bcrypt.h>
#include <oleauto.h>
#include <wchar.h>

static void Put(VARIANT* out, VARTYPE type) {
    VariantClear(out);
    out->vt = type;
}

static void PutText(VARIANT* out, const wchar_t* text) {
    VariantClear(out);
    out->vt = VT_BSTR;
    out->bstrVal = SysAllocString(text);
}

static void PutLong(VARIANT* out, LONG value) {
    Put(out, VT_I4);
    out->lVal = value;
}

/* The MD5 of the file at `path` as " <hex> " in `checksum`, read `block` bytes at a time;
 * 0 when the file cannot be read. */
static int Md5OfFile(const wchar_t* path, DWORD block, wchar_t checksum[35], LONG* size) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_HASH_HANDLE hash = NULL;
    unsigned char* buffer = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, block);
    unsigned char digest[16];
    DWORD got = 0;
    int ok = file != INVALID_HANDLE_VALUE && buffer != NULL &&
             BCryptOpenAlgorithmProvider(&alg, BCRYPT_MD5_ALGORITHM, NULL, 0) == 0 &&
             BCryptCreateHash(alg, &hash, NULL, 0, NULL, 0, 0) == 0;
    *size = 0;
    while (ok && (ok = ReadFile(file, buffer, block, &got, NULL)) && got > 0) {
        ok = BCryptHashData(hash, buffer, got, 0) == 0;
        *size += (LONG)got;
    }
    ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (ok) {
        int i;
        checksum[0] = L' ';
        for (i = 0; i < 16; ++i) {
            swprintf(checksum + 1 + 2 * i, 3, L"%02x", digest[i]);
        }
        checksum[33] = L' ';
        checksum[34] = L'\0';
    }
    if (hash != NULL) {
        BCryptDestroyHash(hash);
    }
    if (alg != NULL) {
        BCryptCloseAlgorithmProvider(alg, 0);
    }
    if (buffer != NULL) {
        HeapFree(GetProcessHeap(), 0, buffer);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return ok;
}

enum Mode { kMd5, kBlocks, kEmpty, kNull, kNumber, kError };
#if defined(VARIANT_MD5_MD5)
static const enum Mode kMode = kMd5;
#elif defined(VARIANT_MD5_BLOCKS)
static const enum Mode kMode = kBlocks;
#elif defined(VARIANT_MD5_EMPTY)
static const enum Mode kMode = kEmpty;
#elif defined(VARIANT_MD5_NULL)
static const enum Mode kMode = kNull;
#elif defined(VARIANT_MD5_NUMBER)
static const enum Mode kMode = kNumber;
#elif defined(VARIANT_MD5_ERROR)
static const enum Mode kMode = kError;
#else
#error "no VARIANT_MD5_<MODE> given"
#endif

static SHORT Answer(const VARIANT* filePath, DWORD block, VARIANT* checksumOut, VARIANT* spareOut,
                    VARIANT* errorOut) {
    wchar_t checksum[35];
    LONG size = 0;
    switch (kMode) {
        case kMd5:
        case kBlocks:
            if (filePath->vt != VT_BSTR || filePath->bstrVal == NULL) {
                PutText(errorOut, L"the path is not a string");
                return 0;
            }
            if (!Md5OfFile(filePath->bstrVal, block, checksum, &size)) {
                PutText(errorOut, L"cannot read the file");
                return 0;
            }
            PutText(checksumOut, checksum);
            PutLong(spareOut, size);
            return 1;
        case kEmpty:
            VariantClear(checksumOut);
            PutLong(errorOut, 1234);
            return 0;
        case kNull:
            Put(checksumOut, VT_NULL);
            Put(errorOut, VT_NULL);
            return 0;
        case kNumber:
            PutLong(checksumOut, -12345);
            Put(errorOut, VT_BOOL);
            errorOut->boolVal = VARIANT_TRUE;
            return 1;
        case kError:
            Put(checksumOut, VT_ERROR);
            checksumOut->scode = DISP_E_PARAMNOTFOUND;
            return 1;
    }
    return 0;
}

SHORT WINAPI VelGetMD5(VARIANT filePath, VARIANT* checksumOut, VARIANT* spareOut,
                       VARIANT* errorOut) {
    if (kMode == kBlocks) {
        PutText(errorOut, L"whole files not supported");
        return 0;
    }
    return Answer(&filePath, 1 << 20, checksumOut, spareOut, errorOut);
}

SHORT WINAPI VelGetMD5WBlock(VARIANT filePath, VARIANT blockSizeKB, VARIANT* checksumOut,
                             VARIANT* spareOut, VARIANT* errorOut) {
    long kb = blockSizeKB.vt == VT_BSTR && blockSizeKB.bstrVal != NULL
                  ? wcstol(blockSizeKB.bstrVal, NULL, 10)
                  : 0;
    if (kb <= 0 || kb > 65536) {
        PutText(errorOut, L"the block size is not a number of kilobytes");
        return 0;
    }
    return Answer(&filePath, (DWORD)kb * 1024, checksumOut, spareOut, errorOut);
}
