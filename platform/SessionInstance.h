#pragma once
// One running tray program per user session.

namespace sv {

// Claims the user session's instance of the program for as long as this process runs.
// False when another process of the session holds it already: on Windows a named object
// in the session's own namespace tells. On Linux every start claims it (true): starts
// there are told apart by their console port, and a second one on the same port ends
// with the listener's failure.
bool ClaimSessionInstance();

}  // namespace sv
