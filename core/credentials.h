// Setting the administrator credentials as the editors do.
#pragma once

#include <string>

namespace lcx {

// Protects the password, saves it with the user name, then raises the
// protected-password flag. A password that cannot be protected fails the
// save: nothing is written and the flag stays as it was. A flag that cannot
// be raised also fails it (logged): the new value is then in the file and in
// force after a restart, but a hand-made plain replacement would not be
// caught, so the editor reports the failure and the administrator retries.
bool SaveAdminCredentials(const std::string& user, const std::string& password);
bool SaveAdminCredentialsAt(const std::string& config_path, const std::string& user,
                            const std::string& password);

}  // namespace lcx
