#pragma once
// Rendering the event-log block of a console page.
//
// The page carries a row template between "<!--{%EVENTLOG%}-->" and "<!--{%/EVENTLOG%}-->".
// DumpEventLog walks a snapshot of the log newest first, keeps the events whose text
// matches the user's filter (a regular expression, matched without regard to case, the
// national letters of Windows-1250 included), numbers them from 1 and puts one filled
// row per event of the requested page in place of the block. Runs on a console request
// thread; holds the log's lock only to take the snapshot, never while matching.
#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "eventlog/PageTemplate.h"

namespace sv {

class TdrEventLog;

// How much matching one page may do. Every match is also held to PCRE2's match, depth and
// heap limits, so a single event can never take long.
struct FilterBudget {
  static constexpr std::chrono::milliseconds kDefaultTime{2000};
  // Matching time for the whole page, counted from the first match.
  std::chrono::milliseconds time = kDefaultTime;
  // When stop is requested the walk ends before its next match.
  std::stop_token stop;
};

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
// A filter that goes past a PCRE2 limit on some event raises Exception("Filtar je
// presložen: ..."); one whose matching outlasts budget.time raises Exception("Filtar je
// prespor: ..."); a stop request raises Exception("Zahtjev je prekinut ...").
std::string DumpEventLog(TdrEventLog& log, std::string_view page, std::string_view pageText,
                         std::string_view filter, std::int32_t rowsPerPage,
                         Placeholders pageValues = {}, const FilterBudget& budget = {});

}  // namespace sv
