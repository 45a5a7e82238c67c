#pragma once
// The fuzz targets as plain functions, shared by the libFuzzer entries and the regression
// replay test. Each returns 0 and throws PropertyViolation when a checked property breaks.
#include <cstddef>
#include <cstdint>

namespace brimlet::fuzz::settings_reader {
// IniValueFromText over arbitrary text, with section and key taken from the input.
int FuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace brimlet::fuzz::settings_reader

namespace brimlet::fuzz::body_builder {
// Arbitrary rows through the body plan and writer into the whole document: well-formed to libxml2,
// the values read back, and the encryption round trip.
int FuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace brimlet::fuzz::body_builder

namespace brimlet::fuzz::create_dir {
// QualifyPath and CreateDir on paths below a scratch directory of the process.
int FuzzOne(const std::uint8_t* data, std::size_t size);
}  // namespace brimlet::fuzz::create_dir
