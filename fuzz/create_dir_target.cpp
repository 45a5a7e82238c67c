#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fsutil/fsutil.h"
#include "fuzz_input.h"
#include "log/log.h"
#include "targets.h"

namespace brimlet::fuzz::create_dir {

namespace {

constexpr int kOpsPerInput = 8;
constexpr unsigned kCallsBetweenCleanups = 512;
// Each element costs CreateDir a presence test of an ever longer path, so long chains are
// rationed per input to keep the executions per second up.
constexpr std::size_t kElementsPerInput = 5000;
// "/" count of a qualified path from which CreateDir's 16-bit loop index overflows: its
// elements are one more, and 32768 of them are one too many.
constexpr std::size_t kMaxElements = 32767;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

// Where the scratch tree goes: BRIMLET_FUZZ_SCRATCH, else a memory file system (a disk's
// mkdir is slow enough to halve the executions), else TMPDIR or /tmp.
std::string BaseDir() {
    for (const char* name : {"BRIMLET_FUZZ_SCRATCH", "", "TMPDIR"}) {
        const char* dir = *name != '\0' ? std::getenv(name) : "/dev/shm";
        if (dir != nullptr && *dir != '\0' && ::access(dir, W_OK | X_OK) == 0) {
            return dir;
        }
    }
    return "/tmp";
}

// The process's scratch tree: created once, emptied every so often, removed at exit.
class Scratch {
  public:
    Scratch() {
        std::string pattern = BaseDir() + "/brimlet-fuzz-createdir-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_root = pattern;
    }
    ~Scratch() { Remove(true); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& Root() const { return m_root; }

    void Tick() {
        if (++m_calls % kCallsBetweenCleanups == 0) {
            Remove(false);
        }
    }

  private:
    void Remove(bool withRoot) {
        ::nftw(m_root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        if (!withRoot) {
            ::mkdir(m_root.c_str(), 0700);
        }
    }

    std::string m_root;
    unsigned m_calls = 0;
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

// A path below the scratch root built from `relative` repeated `times` times, or empty text
// when it could leave the root (a ".." element). NUL bytes would cut the C path short.
std::string BelowRoot(const std::string& root, std::string_view relative, unsigned times) {
    std::string rel;
    for (unsigned i = 0; i < times; ++i) {
        rel += relative;
    }
    for (char& c : rel) {
        if (c == '\0') {
            c = 'x';
        }
    }
    for (std::size_t start = 0; start <= rel.size();) {
        const std::size_t end = std::min(rel.find('/', start), rel.size());
        if (rel.compare(start, end - start, "..") == 0) {
            return {};
        }
        start = end + 1;
    }
    return root + "/" + rel;
}

struct Prediction {
    bool known = false;
    bool result = false;
};

// The prefixes CreateDir tests, in order: elements 0..i-1 for i from 2 to the highest index,
// that is `path` up to its second, third, ... "/". Given as their lengths; stops after the
// first one too long for the platform, which cannot be tested.
std::vector<std::size_t> TestedPrefixes(std::string_view path) {
    std::vector<std::size_t> ends;
    std::size_t slashes = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/' && ++slashes >= 2) {
            ends.push_back(i);
            if (i >= PATH_MAX) {
                break;
            }
        }
    }
    return ends;
}

// lstat of the first `length` bytes of `path` without copying them out: the byte after them
// is a "/", turned into a NUL for the call.
int LstatPrefix(std::string& path, std::size_t length, struct stat& st) {
    path[length] = '\0';
    const int rc = ::lstat(path.c_str(), &st);
    path[length] = '/';
    return rc;
}

// What CreateDir must answer for the tree as it stands; unknown where a file system's limit
// on names decides.
Prediction Predict(std::string path, const std::vector<std::size_t>& ends) {
    bool missing = false;
    std::size_t elementStart = path.find('/') + 1;  // element 1
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (ends[k] >= PATH_MAX) {
            // The presence test fails on it, if no refusal came first.
            return {true, false};
        }
        if (ends[k] - elementStart > NAME_MAX) {
            return {};
        }
        elementStart = ends[k] + 1;
        if (missing) {
            continue;
        }
        struct stat st {};
        if (LstatPrefix(path, ends[k], st) == 0) {
            if (!S_ISDIR(st.st_mode) && k + 1 < ends.size()) {
                // Present, so not created, and nothing can be made below a plain file.
                return {true, false};
            }
        } else if (errno == ENOENT) {
            missing = true;
        } else {
            return {};
        }
    }
    return {true, true};
}

void RunCreateDir(const std::string& path, std::size_t& budget) {
    auto cost = static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
    if (cost >= kMaxElements) {
        cost = kElementsPerInput / 2;  // refused before the first test, but split all the same
    }
    if (cost > budget) {
        return;
    }
    budget -= cost;
    LogFile log;  // no file named: entries are dropped
    const std::string qualified = path.empty() || path.back() != '/' ? path + "/" : path;
    Check(QualifyPath(log, path) == qualified, "QualifyPath did not add exactly one /");
    Check(QualifyPath(log, qualified) == qualified, "QualifyPath changed a qualified path");

    const auto slashes =
        static_cast<std::size_t>(std::count(qualified.begin(), qualified.end(), '/'));
    const std::vector<std::size_t> ends =
        slashes < kMaxElements ? TestedPrefixes(qualified) : std::vector<std::size_t>();
    const Prediction expected =
        slashes < kMaxElements ? Predict(qualified, ends) : Prediction{true, false};

    const bool result = CreateDir(log, path);

    if (expected.known) {
        Check(result == expected.result,
              std::string("CreateDir answered ") + (result ? "true" : "false") + " for " + path);
    }
    if (result) {
        std::string scratchCopy = qualified;
        for (std::size_t k = 0; k < ends.size(); ++k) {
            struct stat st {};
            Check(LstatPrefix(scratchCopy, ends[k], st) == 0,
                  "true, but missing: " + qualified.substr(0, ends[k]));
            Check(k + 1 == ends.size() || S_ISDIR(st.st_mode),
                  "true, but not a directory: " + qualified.substr(0, ends[k]));
        }
    }
}

void MakePlainFile(std::string path) {
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

int FuzzOne(const std::uint8_t* data, std::size_t size) {
    Scratch& scratch = TheScratch();
    FuzzInput in(data, size);
    std::size_t budget = kElementsPerInput;
    for (int op = 0; op < kOpsPerInput && !in.Empty(); ++op) {
        const std::uint8_t code = in.Byte();
        const unsigned times = 1 + ((code >> 2) & 0x1FU);
        switch (code & 3U) {
            case 0:
            case 1: {
                const std::string path = BelowRoot(scratch.Root(), in.ShortText(), times);
                if (!path.empty()) {
                    RunCreateDir(path, budget);
                }
                break;
            }
            case 2: {
                const std::string path = BelowRoot(scratch.Root(), in.ShortText(), times);
                if (!path.empty()) {
                    MakePlainFile(path);
                }
                break;
            }
            default:
                // Runs of empty elements, up to past the loop index's range.
                RunCreateDir(scratch.Root() + "/" + std::string(in.Word(), '/'), budget);
                break;
        }
    }
    scratch.Tick();
    return 0;
}

}  // namespace brimlet::fuzz::create_dir
