// The Annex-B helpers over any byte stream (an encoder's output is trusted,
// but a bug there must not become an overread here): units lie inside the
// buffer, the allocating and the streaming split agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "video/h264_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::vector<NalUnit> units = SplitAnnexB(data, size);
  size_t index = 0;
  ForEachNalUnit(data, size, [&](NalUnit unit) {
    LCX_FUZZ_CHECK(index < units.size() && units[index].data == unit.data && units[index].size == unit.size);
    ++index;
  });
  LCX_FUZZ_CHECK(index == units.size());
  for (const NalUnit& unit : units) {
    LCX_FUZZ_CHECK(unit.size > 0 && unit.data >= data && unit.data + unit.size <= data + size);
  }
  for (int type = 0; type < 32; ++type) {
    bool found = false;
    for (const NalUnit& unit : units) found = found || (unit.data[0] & 0x1F) == type;
    LCX_FUZZ_CHECK(HasNalType(data, size, type) == found);
  }
  size_t code = 0;
  for (size_t from = 0; from <= size && from < 64; ++from) {
    size_t at = FindStartCode(data, size, from, &code);
    LCX_FUZZ_CHECK(at == size || (at >= from && at + code <= size));
  }
  std::vector<uint8_t> sps, pps;
  std::string profile;
  if (ExtractParameterSets(std::vector<uint8_t>(data, data + size), sps, pps, profile)) {
    LCX_FUZZ_CHECK(!sps.empty() && !pps.empty());
  }
  return 0;
}
