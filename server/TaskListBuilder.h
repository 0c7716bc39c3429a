#pragma once
// The reference server's answer to a listing: the task list that makes the client's
// folder equal to the server's own copy. A pure function of the two trees.
#include <functional>
#include <string>
#include <string_view>

#include "Comparer/source/FileStructures.h"
#include "platform/Locale.h"

namespace sv {

struct TTaskListResult {
  std::string document;  // empty when there is nothing to do
  int tasks = 0;
};

// Compares the client's listing document with the server's tree and lists, folder by
// folder from the top:
//  - delete_dir (the topmost folder only) and delete_file for what the client has and
//    the server lacks, or has as the other kind; these come first in each folder, so a
//    name that changes kind is freed before it is used again;
//  - insert_dir for each folder the client lacks, outer folders first, followed later by
//    its content;
//  - insert_file for each file the client lacks, and update_file for each file it lists
//    with a time other than the server's (times read with `clientStyle`, compared to the
//    second), both with the server's time as "path","timestamp", double quotes in names
//    doubled.
// Names are compared without regard to case, as the client's own lookups compare, and
// without the blanks a listing drops around them; an entry the client has under another
// spelling keeps the client's spelling in the paths sent. Paths begin with '\'.
// A name that may not travel (NameMayTravel: the client's own rule), a server folder
// whose name ends in a blank, or any name that is blank throughout cannot travel in a
// task: it is left out and `note` is told. A file whose server time
// lies outside 1980-2107 is sent only when missing, as the client cannot take that time.
// Raises the markup parser's failure for a listing that is not well formed, and fails when
// the task list would be longer than a frame may be. The listing is read without a markup
// tree, keeping only its usable entries: reading and comparing take a few times the
// listing's size, whatever its shape (bench/README.md).
TTaskListResult BuildTaskList(std::string_view clientListing, const TDirectory& serverRoot,
                              const TimeStyle& clientStyle,
                              const std::function<void(const std::string&)>& note = {});

}  // namespace sv
