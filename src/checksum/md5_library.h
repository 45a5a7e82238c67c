#pragma once
// The run-time binding to libVelGnMD5.so (VelGnMD5.dll): loaded at first use, each function
// looked up by name at its first call and kept bound until the object is destroyed. The
// values cross in the platform's shapes: tagged values on Linux (md5lib/velgnmd5.h),
// Automation VARIANTs on Windows (md5lib/velgnmd5_win32.h).
#include <memory>
#include <string>
#include <string_view>

namespace brimlet {

#ifdef _WIN32
inline constexpr std::string_view kMd5LibraryFile = "VelGnMD5.dll";
#else
inline constexpr std::string_view kMd5LibraryFile = "libVelGnMD5.so";
#endif
inline constexpr std::string_view kMd5LibraryMissing = "File not found: VelGnMD5";

class Md5Outputs;

class Md5Library {
  public:
    // Nothing is loaded yet. At load time `exeDir` (the link's directory, no trailing "/") is
    // searched first, then `binaryDir` (by default the real binary's directory).
    explicit Md5Library(std::string exeDir, std::string binaryDir = RealBinaryDir());
    ~Md5Library();
    Md5Library(const Md5Library&) = delete;
    Md5Library& operator=(const Md5Library&) = delete;

    // VelGetMD5, and VelGetMD5WBlock with the block size's text, on `filePath` with the
    // shared outputs: true when the library reported success (non-zero). Each function is
    // bound at its first call: the library is loaded on first use from the first of the two
    // directories that holds a regular file of that name (a FIFO or device is passed over,
    // never waited on), and only when that file and its real directory are trusted
    // (DistrustOf), by its full path: never by bare name, whose search would run a library's
    // constructors before any check. Throw Failure 53 "File not found: VelGnMD5" when none is
    // found, the one found is not trusted or cannot be loaded (Refusal says why when there is
    // more to say); Failure 453 naming the function when the library lacks it (on
    // Linux, or lacks VelVariantClear, without which its outputs could not be released).
    bool GetMD5(const std::string& filePath, Md5Outputs& outputs);
    bool GetMD5WBlock(const std::string& filePath, const std::string& blockSizeKB,
                      Md5Outputs& outputs);
    // Binds VelGetMD5 without calling it (--check): GetMD5's failures.
    void BindGetMD5();

    // The file the library was loaded from ("" before loading).
    const std::string& LoadedFrom() const { return m_loadedFrom; }
    // Why the library found was refused ("" when it was not, or when nothing more than error 53
    // can be said): its name and the reason, that it is not trusted or is a 32-bit DLL.
    const std::string& Refusal() const { return m_refusal; }

    // The directory of the running binary, links resolved ("" when it cannot be told).
    static std::string RealBinaryDir();

  private:
    // What the platform part made of one candidate file.
    enum class Candidate { Absent, Refused, Unloadable, Loaded };
    // Opens `path` and, when it is a regular file that DistrustOf accepts, loads that very
    // file into `handle`; `why` gets the refusal's reason, or what kept it from loading.
    static Candidate LoadCandidate(const std::string& path, void*& handle, std::string& why);
    static void* FindSymbol(void* handle, const char* name);
    static void Unload(void* handle);

    void Load();
    void* Symbol(const char* name);

    std::string m_exeDir;
    std::string m_binaryDir;
    std::string m_loadedFrom;
    std::string m_refusal;
    void* m_handle = nullptr;
    // The bound functions, in the platform's shapes.
    void* m_getMd5 = nullptr;
    void* m_getMd5WBlock = nullptr;
#ifndef _WIN32
    void* m_clear = nullptr;  // VelVariantClear; on Windows oleaut32's VariantClear
#endif
};

// The three outputs that both calls of one checksum share (checksumOut, spareOut, errorOut):
// the platform's variants, empty at first, released when this goes away. Outlives no library
// that wrote it.
class Md5Outputs {
  public:
    Md5Outputs();
    ~Md5Outputs();
    Md5Outputs(const Md5Outputs&) = delete;
    Md5Outputs& operator=(const Md5Outputs&) = delete;

    // checksumOut and errorOut read as text: empty text for an output that holds nothing (on
    // Windows also null). Throws Failure 13 "Type mismatch" when the value cannot be read as
    // text (on Windows: VariantChangeType to VT_BSTR refuses it).
    std::string ChecksumText() const;
    std::string ErrorText() const;

  private:
    friend class Md5Library;
    struct Values;
    std::unique_ptr<Values> m_values;
};

}  // namespace brimlet
