#pragma once
// What the desktop trash below a data folder holds: each trashed file's recorded origin
// with its content (files under a temporary-looking name are reported as such).
#include <map>
#include <string>

namespace sv::test {

// The trashed files of `dataHome` + "/Trash" whose recorded origin lies below `below`:
// origin (decoded) to content. A record without its file maps to "<missing>".
std::map<std::string, std::string> TrashedFiles(const std::string& dataHome, const std::string& below);

}  // namespace sv::test
