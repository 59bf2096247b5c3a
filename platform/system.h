// Process, clock, environment and file services of the host. Every other
// folder reaches the operating system through platform/ only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lcx {

// Milliseconds since boot (CLOCK_BOOTTIME): the same in every process, so a
// tick saved by one copy of the program still means something after a relaunch.
uint64_t BootTickMs();
void SleepMs(int64_t ms);

// Value of an environment variable, or nullopt when unset.
std::optional<std::string> GetEnv(const char* name);

std::string ExecutablePath();   // /proc/self/exe resolved
std::string ExecutableDir();    // cut at the last "/"
std::string TempDir();          // $TMPDIR, else /tmp
std::string UserConfigDir();    // $XDG_CONFIG_HOME, else ~/.config
// $XDG_RUNTIME_DIR, else <TempDir>/lumicast-<uid> made 0700; "" when that
// name is taken by another account or is not a real folder.
std::string RuntimeDir();

// Creates one directory level (0700); an existing directory or a failure is ignored.
void MakeDirectory(const std::string& path);
// Creates every missing level of a path (0700: used for per-user folders).
void MakeDirectories(const std::string& path);

bool ReadWholeFile(const std::string& path, std::string& out);
bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);

// Every file written here is created 0600 and never through a link: what we
// write (the configuration, sessions, flags, keys) is the user's alone.
// Writes the bytes to `path` (created or truncated) and flushes them to disk.
bool WriteFileSynced(const std::string& path, std::string_view bytes);
// The step at which a replacement of a file's contents failed.
enum class FileWriteResult { kWritten, kOpenFailed, kWriteFailed, kMoveFailed };
// Writes the bytes to a fresh `path` + ".tmp" (mode 0600; a stale one is removed first,
// so its old mode or owner never carries over), then moves that over `path`, so a
// reader or a crash sees the old file or the new one, never a mix. On failure
// `path` is untouched and the .tmp is gone.
FileWriteResult ReplaceFileContents(const std::string& path, std::string_view bytes);
// Moves `from` over `to` (replace-existing, write-through): rename, then
// fsync of the directory so the new name survives a power cut.
bool ReplaceFileDurably(const std::string& from, const std::string& to);

// Starts `path` with `args` (argv[1..]) in `cwd`, not waited for. Every
// descriptor of this process is close-on-exec, so the child inherits none.
bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& cwd);
// Opens a URL in the user's browser (xdg-open), not waited for.
bool OpenUrl(const std::string& url);

}  // namespace lcx
