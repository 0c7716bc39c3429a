#pragma once
// Rendering the event-log block of a console page.
//
// The page carries a row template between "<!--{%EVENTLOG%}-->" and "<!--{%/EVENTLOG%}-->".
// DumpEventLog walks the log newest first under its lock, keeps the events whose text
// matches the user's filter (a regular expression, matched without regard to case, the
// national letters of Windows-1250 included), numbers them from 1 and puts one filled
// row per event of the requested page in place of the block. Runs on a console request
// thread; holds the log's lock for the walk of one page only.
#include <cstdint>
#include <string>
#include <string_view>

#include "eventlog/PageTemplate.h"

namespace sv {

class TdrEventLog;

// Returns the page with:
// - the block (first start marker through last end marker) replaced by the rows of page
//   `pageText` (integer text; page 1 when it is not integer text), `rowsPerPage` rows a
//   page. In each row "{%EVENTID%}", "{%EVENTTIME%}" and "{%EVENTTEXT%}" are filled at
//   their first occurrence with the event's number, time and text (HTML-escaped);
// - "{%EVENTPREVPAGE%}" and "{%EVENTNEXTPAGE%}" filled at their first occurrence with
//   max(page - 1, 1) and page + 1;
// - `pageValues` filled as they say.
// Every placeholder is filled in one pass over the template, so nothing that arrives in a
// value or an event is filled. A page without the block keeps its text apart from the
// placeholders. An empty filter keeps every event; a filter that matches only empty text
// keeps none. An invalid filter raises Exception("TPerlRegEx.Compile() - Error in regex at
// offset %d: %s") when the first event is tested, and nothing when no event is tested.
std::string DumpEventLog(TdrEventLog& log, std::string_view page, std::string_view pageText,
                         std::string_view filter, std::int32_t rowsPerPage,
                         Placeholders pageValues = {});

}  // namespace sv
