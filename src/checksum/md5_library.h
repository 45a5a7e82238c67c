#pragma once
// The run-time binding to libVelGnMD5.so: loaded at first use, each function looked up by
// name at its first call and kept bound until the object is destroyed.
#include <string>
#include <string_view>

#include "md5lib/velgnmd5.h"

namespace brimlet {

#ifdef _WIN32
inline constexpr std::string_view kMd5LibraryFile = "VelGnMD5.dll";
#else
inline constexpr std::string_view kMd5LibraryFile = "libVelGnMD5.so";
#endif
inline constexpr std::string_view kMd5LibraryMissing = "File not found: VelGnMD5";

class Md5Library {
  public:
    // Nothing is loaded yet. At load time `exeDir` (the link's directory, no trailing "/") is
    // searched first, then `binaryDir` (by default the real binary's directory).
    explicit Md5Library(std::string exeDir, std::string binaryDir = RealBinaryDir());
    ~Md5Library();
    Md5Library(const Md5Library&) = delete;
    Md5Library& operator=(const Md5Library&) = delete;

    // The bound functions. Load the library on first use from the first of the two
    // directories that holds a regular file of that name (a FIFO or device is passed over, never
    // waited on), and only when that file and its real directory are trusted (DistrustOf), by
    // its full path: never by bare name, whose search would run a library's constructors before
    // any check. Throw Failure 53 "File not found: VelGnMD5" when none is found, the one found
    // is not trusted (Refusal says why) or cannot be loaded; Failure 453 naming the function
    // when the library lacks it (or lacks VelVariantClear, without which its outputs could not
    // be released).
    VelGetMD5Fn GetMD5();
    VelGetMD5WBlockFn GetMD5WBlock();

    // Releases an output variant that the library wrote. Safe on empty variants.
    void Clear(VelVariant& value) const noexcept;

    // The file the library was loaded from ("" before loading).
    const std::string& LoadedFrom() const { return m_loadedFrom; }
    // Why the library found was refused ("" when it was not): its path and the reason.
    const std::string& Refusal() const { return m_refusal; }

    // The directory of the running binary, links resolved ("" when it cannot be told).
    static std::string RealBinaryDir();

  private:
    // What the platform part made of one candidate file.
    enum class Candidate { Absent, Refused, Unloadable, Loaded };
    // Opens `path` and, when it is a regular file that DistrustOf accepts, loads that very
    // file into `handle`; `why` gets the refusal's reason.
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
    VelGetMD5Fn m_getMd5 = nullptr;
    VelGetMD5WBlockFn m_getMd5WBlock = nullptr;
    VelVariantClearFn m_clear = nullptr;
};

// An output variant for one library call, released through the library when it goes away.
class Md5Output {
  public:
    explicit Md5Output(const Md5Library& library) : m_library(library) {}
    ~Md5Output() { m_library.Clear(m_value); }
    Md5Output(const Md5Output&) = delete;
    Md5Output& operator=(const Md5Output&) = delete;

    VelVariant* get() { return &m_value; }
    // The value read as text: empty when the library wrote nothing. Throws Failure 13 (type
    // mismatch) when it holds anything but text or nothing.
    std::string Text() const;

  private:
    const Md5Library& m_library;
    VelVariant m_value = VEL_VARIANT_INIT;
};

// An input variant holding a copy of a text, owned by the caller.
class Md5Input {
  public:
    explicit Md5Input(std::string_view text);
    Md5Input(const Md5Input&) = delete;
    Md5Input& operator=(const Md5Input&) = delete;
    const VelVariant* get() const { return &m_value; }

  private:
    std::string m_text;
    VelVariant m_value = VEL_VARIANT_INIT;
};

}  // namespace brimlet
