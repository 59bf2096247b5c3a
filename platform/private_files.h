// Files and folders that are the user's alone: folders made 0700 (tightened
// when found looser, refused when another account owns them or a link stands
// in their place), secret files created 0600 without following links, and
// the per-user secret made once. No shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lcx {

// Creates `path` (one level) 0700 when missing; true when it is then a real
// folder of this user with no access for others (a looser one is tightened).
bool EnsurePrivateFolder(const std::string& path);

// Writes `bytes` to a new file <dir>/<prefix>XXXXXX<suffix> (mkstemps, 0600);
// its path, or "" on failure (nothing is left behind).
std::string WriteUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                            std::string_view bytes);

// The `size` random bytes kept in `path` (0600), made at first need. Two
// processes asking at once get the same bytes: the file appears whole under
// its name (link of a finished temporary) or not at all. nullopt when it
// cannot be read or made, or holds anything but `size` bytes.
std::optional<std::string> ReadOrCreateSecret(const std::string& path, size_t size);

}  // namespace lcx
