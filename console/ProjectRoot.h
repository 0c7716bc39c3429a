#pragma once
// Creating a project root folder and opening it to every user of the machine.
#include <string>

namespace sv {

class TdrEventLog;

// Logs "Kreiranje direktorija %s", creates the folder (one level; the outcome is not
// checked by itself), grants "Authenticated Users" modify rights on it, inherited by what
// is created inside (a folder only: a path that names anything else after the creation
// step fails the grant and nothing is changed, see NTACL.h), and logs "Dozvola pristupa %s na %s" or "Nije uspjela dozvola
// pristupa %s na %s, greška %d %s" with the OS error code and its text. Never raises for a
// failed creation or grant. Any thread.
void CreateProjectRoot(const std::string& path, TdrEventLog& log);

}  // namespace sv
