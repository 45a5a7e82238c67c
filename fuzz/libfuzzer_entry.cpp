// The libFuzzer entry of one target; BRIMLET_FUZZ_TARGET names the target's namespace.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        return brimlet::fuzz::BRIMLET_FUZZ_TARGET::FuzzOne(data, size);
    } catch (const std::exception& e) {
        // A broken property or an escaped exception: abort so libFuzzer keeps the input.
        std::fprintf(stderr, "fuzz target failed: %s\n", e.what());
        std::abort();
    }
}
