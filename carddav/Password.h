// Where the address book's password comes from and goes to: the environment variable
// PV_CARDDAV_PASSWORD (for cron without a keyring), else the desktop's keyring through QtKeychain.
// It is never taken from the command line and never written into UserMode.INI.
#pragma once

#include <QString>

namespace pv::carddav {

inline constexpr const char* PasswordVariable = "PV_CARDDAV_PASSWORD";

// The keyring entry's key for an address book and user.
QString KeyringKey(const QString& url, const QString& user);

// The password: the environment variable when it is set, else the keyring's entry. Empty when
// there is none; a keyring that cannot be reached (no D-Bus session, as under cron) counts as
// none after at most timeoutMs. problem (when given) receives why the keyring gave nothing.
QString ReadPassword(const QString& url, const QString& user, QString* problem = nullptr,
                     int timeoutMs = 5000);

// Stores the password in the keyring. False with a German reason when it could not.
bool StorePassword(const QString& url, const QString& user, const QString& password,
                   QString* problem, int timeoutMs = 10000);

}  // namespace pv::carddav
