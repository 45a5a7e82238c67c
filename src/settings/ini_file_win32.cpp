#include <windows.h>

#include <string>
#include <string_view>

#include "settings/settings.h"

namespace brimlet {

// The platform's own private-profile reader: its rules are the settings file's rules here.
std::string GetIniValue(std::string_view section, std::string_view key,
                        const std::string& iniFile) noexcept {
    try {
        const std::string sectionText(section);
        const std::string keyText(key);
        std::string value(kIniValueMaxBytes + 1, '\0');
        const DWORD n =
            GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), "", value.data(),
                                     static_cast<DWORD>(value.size()), iniFile.c_str());
        value.resize(n);
        return value;
    } catch (...) {
        return {};
    }
}

}  // namespace brimlet
