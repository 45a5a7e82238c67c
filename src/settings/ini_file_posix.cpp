#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "common/fd_io.h"
#include "common/unique_fd.h"
#include "settings/settings.h"

namespace brimlet {

std::string GetIniValue(std::string_view section, std::string_view key,
                        const std::string& iniFile) noexcept {
    try {
        // O_NONBLOCK so that a FIFO named as the settings file cannot hang the run; anything
        // but a regular file is then refused.
        UniqueFd fd(::open(iniFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (!fd) {
            return {};
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            return {};
        }
        std::string text;
        if (!ReadUpTo(fd.get(), kIniFileMaxBytes + 1, text)) {
            return {};
        }
        if (text.size() > kIniFileMaxBytes) {
            // Drop the line that the bound cut, so no truncated value can be returned.
            text.resize(kIniFileMaxBytes);
            const auto lastEol = text.rfind('\n');
            text.resize(lastEol == std::string::npos ? 0 : lastEol + 1);
        }
        return IniValueFromText(text, section, key);
    } catch (...) {
        return {};
    }
}

}  // namespace brimlet
