#pragma once
// Shared by the file-system layer's tests.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/FileSystem.h"

namespace sv::test {

// A folder's entries by name, as ForEachEntry yields them.
inline std::map<std::string, fs::DirEntry> List(const std::string& folder) {
  std::map<std::string, fs::DirEntry> entries;
  EXPECT_TRUE(fs::ForEachEntry(folder, [&](const fs::DirEntry& e) { entries[e.name] = e; }));
  return entries;
}

}  // namespace sv::test
