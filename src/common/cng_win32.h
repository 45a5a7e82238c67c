#pragma once
// Owners of CNG (bcrypt) handles and a whole-buffer hash. Header-only, so that VelGnMD5.dll
// can use it without linking any library of ours.
#include <windows.h>
// <windows.h> first: the CNG header needs its types.
#include <bcrypt.h>

#include <utility>
#include <vector>

namespace brimlet::cng {

inline bool Ok(NTSTATUS status) {
    return status >= 0;
}

template <typename Handle, NTSTATUS(WINAPI* Close)(Handle)>
class Owner {
  public:
    Owner() = default;
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }
    ~Owner() { Reset(); }

    Handle get() const { return m_h; }
    Handle* out() {
        Reset();
        return &m_h;
    }

  private:
    void Reset() {
        if (m_h != nullptr) {
            Close(m_h);
            m_h = nullptr;
        }
    }
    Handle m_h = nullptr;
};

inline NTSTATUS WINAPI CloseAlgorithm(BCRYPT_ALG_HANDLE h) {
    return BCryptCloseAlgorithmProvider(h, 0);
}

using Algorithm = Owner<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
using Key = Owner<BCRYPT_KEY_HANDLE, BCryptDestroyKey>;
using Hash = Owner<BCRYPT_HASH_HANDLE, BCryptDestroyHash>;

// The algorithm `name` (BCRYPT_SHA256_ALGORITHM, ...); empty when the platform refuses it.
inline Algorithm OpenAlgorithm(LPCWSTR name) {
    Algorithm alg;
    if (!Ok(BCryptOpenAlgorithmProvider(alg.out(), name, nullptr, 0))) {
        return {};
    }
    return alg;
}

// A buffer of the size the algorithm's key or hash objects need; empty when unknown.
inline std::vector<UCHAR> ObjectBuffer(const Algorithm& alg) {
    DWORD size = 0;
    ULONG got = 0;
    if (!Ok(BCryptGetProperty(alg.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&size),
                              sizeof size, &got, 0))) {
        return {};
    }
    return std::vector<UCHAR>(size);
}

// A hash in progress over one algorithm: feed with Add, read once with Finish.
class Digest {
  public:
    explicit Digest(LPCWSTR algorithm) : m_alg(OpenAlgorithm(algorithm)) {
        if (m_alg.get() == nullptr) {
            return;
        }
        m_object = ObjectBuffer(m_alg);
        ULONG got = 0;
        DWORD length = 0;
        if (m_object.empty() ||
            !Ok(BCryptGetProperty(m_alg.get(), BCRYPT_HASH_LENGTH,
                                  reinterpret_cast<PUCHAR>(&length), sizeof length, &got, 0)) ||
            !Ok(BCryptCreateHash(m_alg.get(), m_hash.out(), m_object.data(),
                                 static_cast<ULONG>(m_object.size()), nullptr, 0, 0))) {
            return;
        }
        m_length = length;
    }

    // False when the hash could not start or a step failed.
    bool Ready() const { return m_length != 0; }
    bool Add(const void* data, std::size_t size) {
        // CNG takes ULONG sizes; callers feed pieces far below that.
        return Ready() &&
               Ok(BCryptHashData(m_hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)),
                                 static_cast<ULONG>(size), 0));
    }
    // The digest's bytes; empty on failure.
    std::vector<unsigned char> Finish() {
        std::vector<unsigned char> out(m_length);
        if (!Ready() ||
            !Ok(BCryptFinishHash(m_hash.get(), out.data(), static_cast<ULONG>(out.size()), 0))) {
            return {};
        }
        return out;
    }

  private:
    Algorithm m_alg;
    std::vector<UCHAR> m_object;
    Hash m_hash;
    DWORD m_length = 0;
};

}  // namespace brimlet::cng
