// Setting and resetting the administrator credentials: the only writers of
// admin_user / admin_pass together with the protected-password flag.
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

// Password recovery: admin / admin in plain (the user name written first),
// then the protected-password flag cleared. False, logged under `area`,
// when either could not be done.
bool ResetAdminCredentialsAt(const std::string& config_path, const char* area);

}  // namespace lcx
