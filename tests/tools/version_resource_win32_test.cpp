// The version resource of every exe and DLL the ZIP ships, read back as Explorer and inventory
// tools read it.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

namespace brimlet::test {
namespace {

struct Shipped {
    const wchar_t* file;
    const wchar_t* description;
};

// The build's version padded to the four numbers a version resource holds.
std::vector<WORD> FourParts(const std::string& version) {
    std::vector<WORD> parts;
    std::istringstream in(version);
    std::string part;
    while (std::getline(in, part, '.')) {
        parts.push_back(static_cast<WORD>(std::stoul(part)));
    }
    parts.resize(4, 0);
    return parts;
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring StringValue(std::vector<BYTE>& block, const std::wstring& name) {
    void* value = nullptr;
    UINT size = 0;
    const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &size) || size == 0) {
        return L"(missing)";
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(VersionResource, EveryShippedBinaryCarriesTheBuildsVersion) {
    const std::vector<WORD> want = FourParts(BRIMLET_VERSION);
    std::wstring wantText;
    for (const WORD part : want) {
        wantText += (wantText.empty() ? L"" : L".") + std::to_wstring(part);
    }
    const Shipped shipped[] = {
        {L"brimlet.exe", L"Brimlet component list publisher"},
        {L"brimlet-cli.exe", L"Brimlet component list publisher (console)"},
        {L"VelGnMD5.dll", L"VelGnMD5 file checksum library"},
        {L"brimlet-decrypt.exe", L"Brimlet document decrypter"},
        {L"brimlet-events.dll", L"Brimlet Event Log messages"},
    };
    for (const Shipped& binary : shipped) {
        const std::wstring path = Wide(BRIMLET_BIN_DIR) + L"\\" + binary.file;
        SCOPED_TRACE(path);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
        std::vector<BYTE> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

        void* root = nullptr;
        UINT rootSize = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &root, &rootSize));
        ASSERT_GE(rootSize, sizeof(VS_FIXEDFILEINFO));
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(root);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        for (const auto& [ms, ls] :
             {std::pair{fixed->dwFileVersionMS, fixed->dwFileVersionLS},
              std::pair{fixed->dwProductVersionMS, fixed->dwProductVersionLS}}) {
            EXPECT_EQ(HIWORD(ms), want[0]);
            EXPECT_EQ(LOWORD(ms), want[1]);
            EXPECT_EQ(HIWORD(ls), want[2]);
            EXPECT_EQ(LOWORD(ls), want[3]);
        }
        const bool dll = std::wstring(binary.file).ends_with(L".dll");
        EXPECT_EQ(fixed->dwFileType, dll ? static_cast<DWORD>(VFT_DLL) : VFT_APP);

        EXPECT_EQ(StringValue(block, L"FileVersion"), wantText);
        EXPECT_EQ(StringValue(block, L"ProductVersion"), wantText);
        EXPECT_EQ(StringValue(block, L"ProductName"), L"Brimlet");
        EXPECT_EQ(StringValue(block, L"FileDescription"), binary.description);
        EXPECT_EQ(StringValue(block, L"OriginalFilename"), binary.file);
    }
}

}  // namespace
}  // namespace brimlet::test
