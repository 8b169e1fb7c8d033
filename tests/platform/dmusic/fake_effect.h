// In-place audio effects for the tests, entered as built-in classes: a plain one
// and one that declares itself a recording sink. Both keep what passes through.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/com/guid.h"

namespace dmusic_test {

// {8C1E6A10-0000-4A5B-9C3D-000000000001}
inline constexpr CLSID CLSID_TestEffect{0x8C1E6A10, 0x0000, 0x4A5B, {0x9C, 0x3D, 0, 0, 0, 0, 0, 1}};
// {8C1E6A10-0000-4A5B-9C3D-000000000002}
inline constexpr CLSID CLSID_TestRecorder{0x8C1E6A10, 0x0000, 0x4A5B, {0x9C, 0x3D, 0, 0, 0, 0, 0, 2}};
// {8C1E6A10-0000-4A5B-9C3D-000000000003}: refuses every media type.
inline constexpr CLSID CLSID_TestPickyEffect{0x8C1E6A10, 0x0000, 0x4A5B, {0x9C, 0x3D, 0, 0, 0, 0, 0, 3}};

// What the effects saw, shared by all instances.
struct EffectRecord {
  std::mutex lock;
  std::vector<std::uint8_t> bytes;  // everything processed, in order
  int processCalls = 0;
  int beginRecordingCalls = 0;
  int typesSet = 0;

  void Clear();
  std::vector<std::uint8_t> Bytes();
};
EffectRecord& TheEffectRecord();

void RegisterTestEffects();

}  // namespace dmusic_test
