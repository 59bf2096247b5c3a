#include "security/machine_id.h"

#include "platform/machine_sources.h"
#include "security/digest.h"

namespace lcx {

std::string MachineIdText(const std::string& guid, const std::string& product,
                          const std::string& serial_hex) {
  return guid + "|" + product + "|" + serial_hex;
}

std::string MachineIdFromText(const std::string& text) { return HexLower(Sha256Digest(text)); }

std::string GetMachineId() {
  return MachineIdFromText(MachineIdText(ReadMachineGuid(), ReadProductId(), ReadVolumeSerialHex()));
}

}  // namespace lcx
