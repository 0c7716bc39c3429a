#pragma once
// Whether the program starts when the user logs in. This is the system's own record, not
// a setting of svClient.xml: on Windows the per-user value "Sorvana Client" under
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run, holding the quoted path of the
// program file; on Linux the systemd user unit sorvana-client.service, enabled for the
// user's default target.

namespace sv {

// True when the program is recorded to start at login.
bool StartsAtLogin();
// Records or removes the start at login. Raises Exception with the system's reason when
// it cannot, and on Linux when no unit sorvana-client.service is installed for the user
// or the system.
void SetStartsAtLogin(bool on);

}  // namespace sv
