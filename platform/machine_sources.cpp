#include "platform/machine_sources.h"

#include <sys/statfs.h>

#include <cstdio>

#include "platform/private_files.h"
#include "platform/system.h"

namespace lcx {

static std::string FirstLine(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) return {};
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text.size() <= 1024 ? text : std::string();
}

std::string ReadMachineGuid() {
  std::string id = FirstLine("/etc/machine-id");
  if (id.empty()) id = FirstLine("/var/lib/dbus/machine-id");
  return id;
}

std::string ReadProductId() { return {}; }

std::string ReadVolumeSerialHex() {
  struct statfs st {};
  unsigned serial = 0;
  if (::statfs("/", &st) == 0) {
    unsigned words[2];
    static_assert(sizeof st.f_fsid == sizeof words);
    __builtin_memcpy(words, &st.f_fsid, sizeof words);
    serial = words[0];
  }
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", serial);
  return buf;
}

std::string UserFlagPath(const std::string& name) {
  return UserConfigDir() + "/Halvorix/LCX/" + name;
}

std::string ReadUserFlag(const std::string& name) {
  std::string v;
  if (!ReadWholeFile(UserFlagPath(name), v)) return {};
  return v;
}

bool MakeUserFlagFolder() {
  const std::string base = UserConfigDir();
  MakeDirectories(base);
  return EnsurePrivateFolder(base + "/Halvorix") && EnsurePrivateFolder(base + "/Halvorix/LCX");
}

bool WriteUserFlag(const std::string& name, const std::string& value) {
  if (!MakeUserFlagFolder()) return false;
  return ReplaceFileContents(UserFlagPath(name), value) == FileWriteResult::kWritten;
}

std::optional<std::string> ReadUserKey() {
  if (!MakeUserFlagFolder()) return std::nullopt;
  return ReadOrCreateSecret(UserFlagPath("key"), kUserKeySize);
}

}  // namespace lcx
