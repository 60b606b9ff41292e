#pragma once

#include <cstddef>
#include <cstdint>

// One function per fuzz target. Each checks, for any bytes, the properties its parser
// promises, and aborts with a message when one does not hold. The libFuzzer entry point of
// each target calls its function; the replay test calls all of them on the stored inputs.
namespace fuzz {

int StateChunk(const std::uint8_t* data, std::size_t size);
int PluginState(const std::uint8_t* data, std::size_t size);
int PresetFile(const std::uint8_t* data, std::size_t size);
int Base64(const std::uint8_t* data, std::size_t size);
int TargetFile(const std::uint8_t* data, std::size_t size);
int TypedValue(const std::uint8_t* data, std::size_t size);
int UpdateState(const std::uint8_t* data, std::size_t size);
int Json(const std::uint8_t* data, std::size_t size);

} // namespace fuzz

// Each target's source defines the libFuzzer entry point when built as a fuzzer.
#ifdef MORVELLAN_FUZZ_ENTRY
#define FUZZ_ENTRY_POINT(function)                                                          \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)          \
  {                                                                                         \
    return function(data, size);                                                            \
  }
#else
#define FUZZ_ENTRY_POINT(function)
#endif
