#include "eventlog/drLogDump.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/IntText.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/FilterMemory.h"
#include "eventlog/drLogger.h"
#include "platform/Locale.h"

namespace sv {
namespace {

// Layout of PCRE2's character tables (as pcre2_maketables writes them): lower-case map,
// case-flip map, ten class bitmaps, then one type byte per character.
constexpr std::size_t kFlipOffset = 256, kBitsOffset = 512, kTypesOffset = 512 + 320;
enum ClassBits { kSpace = 0, kXDigit = 32, kDigit = 64, kUpper = 96, kLower = 128,
                 kWord = 160, kGraph = 192, kPrint = 224, kPunct = 256, kCntrl = 288 };
enum TypeBits { kTypeSpace = 1, kTypeLetter = 2, kTypeLcLetter = 4, kTypeDigit = 8, kTypeWord = 16 };

bool IsUpperLetter(unsigned char c) { return IsLetter(c) && LowerCase(c) != c; }
bool IsLowerLetter(unsigned char c) { return IsLetter(c) && !IsUpperLetter(c); }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool IsGraphic(unsigned char c) { return c > 0x20 && !IsControl(c) && !IsSpace(c); }

// Character tables from our Windows-1250 classification, so that caseless matching folds
// the national letters (Č and č) whatever the process locale says.
const unsigned char* Cp1250Tables() {
  static const std::array<unsigned char, kTypesOffset + 256> tables = [] {
    std::array<unsigned char, kTypesOffset + 256> t{};
    for (int i = 0; i < 256; ++i) {
      const auto c = static_cast<unsigned char>(i);
      t[i] = LowerCase(c);
      t[kFlipOffset + i] = IsLowerLetter(c) ? UpperCase(c) : LowerCase(c);
      auto set = [&](int bitmap, bool on) {
        if (on) t[kBitsOffset + bitmap + i / 8] |= static_cast<unsigned char>(1u << (i & 7));
      };
      const bool word = IsLetter(c) || IsDigit(c) || c == '_';
      set(kSpace, IsSpace(c));
      set(kXDigit, IsHexDigit(c));
      set(kDigit, IsDigit(c));
      set(kUpper, IsUpperLetter(c));
      set(kLower, IsLowerLetter(c));
      set(kWord, word);
      set(kGraph, IsGraphic(c));
      set(kPrint, IsGraphic(c) || c == ' ');
      set(kPunct, IsGraphic(c) && !IsLetter(c) && !IsDigit(c));
      set(kCntrl, IsControl(c));
      t[kTypesOffset + i] = static_cast<unsigned char>(
          (IsSpace(c) ? kTypeSpace : 0) | (IsLetter(c) ? kTypeLetter : 0) |
          (IsLowerLetter(c) ? kTypeLcLetter : 0) | (IsDigit(c) ? kTypeDigit : 0) |
          (word ? kTypeWord : 0));
    }
    return t;
  }();
  return tables.data();
}

struct CodeFree { void operator()(pcre2_code* p) const { pcre2_code_free(p); } };
struct DataFree { void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); } };
struct ContextFree { void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); } };
struct MatchContextFree { void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); } };
struct JitStackFree { void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); } };

// Limits of one match, one pcre2_match call over the whole subject, so that \G, anchors,
// lookbehind and backtracking verbs see the text as one. PCRE2 counts its match limit
// afresh at every start position; an event's text is at most a few KiB
// (TdrEventLog::kMaxTextBytes), so one call at the limits stays well below a second and
// the page's budget is checked between calls. The depth, heap and JIT stack limits keep a
// deeply nested match from taking much memory.
constexpr std::uint32_t kMatchLimit = 100000;
constexpr std::uint32_t kDepthLimit = 100000;
constexpr std::uint32_t kHeapLimitKiB = 8 * 1024;
constexpr std::size_t kJitStackStart = 32 * 1024, kJitStackMax = 1024 * 1024;

bool IsLimitError(int rc) {
  return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT ||
         rc == PCRE2_ERROR_JIT_STACKLIMIT || rc == PCRE2_ERROR_NOMEMORY;
}

std::string ErrorText(int code) {
  PCRE2_UCHAR text[256];
  pcre2_get_error_message(code, text, sizeof text);
  return reinterpret_cast<const char*>(text);
}

// Ends a page's matching once its time is spent or a stop is requested.
class BudgetClock {
 public:
  BudgetClock(const FilterBudget& budget, std::chrono::steady_clock::time_point start)
      : budget_(budget), deadline_(start + budget.time) {}
  void Check() const {
    if (budget_.stop.stop_requested()) throw Exception(msg::kRequestStopped);
    if (std::chrono::steady_clock::now() >= deadline_) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(budget_.time).count();
      throw Exception(Format(msg::kFilterTooSlow, static_cast<int>(seconds)));
    }
  }

 private:
  const FilterBudget& budget_;
  const std::chrono::steady_clock::time_point deadline_;
};

// One pattern, compiled at its first match. Matches run over the whole subject with
// NOTEMPTY: a match of empty text never counts. Owned by one call, never shared.
class Matcher {
 public:
  Matcher(std::string_view pattern, std::uint32_t options) : pattern_(pattern), options_(options) {}

  // True when the pattern matches in subject. Raises the compile error on first use, and
  // Exception("Filtar je presložen ...") when the match goes past a limit. With a clock,
  // checks it before every call into PCRE2 and raises what it raises.
  bool Find(std::string_view subject, const BudgetClock* clock = nullptr) {
    if (!code_) Compile();
    if (clock) clock->Check();
    const int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
                               PCRE2_NOTEMPTY, data_.get(), limits_.get());
    if (IsLimitError(rc)) throw Exception(Format(msg::kFilterTooComplex, ErrorText(rc)));
    return rc >= 0;
  }
  // After a successful Find: the whole match and a named group, as offsets in the subject.
  std::pair<std::size_t, std::size_t> Whole() const { return Span(0); }
  std::pair<std::size_t, std::size_t> Group(const char* name) const {
    const int n = pcre2_substring_number_from_name(code_.get(), reinterpret_cast<PCRE2_SPTR>(name));
    return n < 0 ? std::pair<std::size_t, std::size_t>{0, 0} : Span(n);
  }

 private:
  std::pair<std::size_t, std::size_t> Span(int group) const {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_.get());
    if (ov[2 * group] == PCRE2_UNSET) return {0, 0};
    return {ov[2 * group], ov[2 * group + 1]};
  }

  void Compile() {
    std::unique_ptr<pcre2_compile_context, ContextFree> context(pcre2_compile_context_create(nullptr));
    if (!context) throw std::bad_alloc();
    pcre2_set_character_tables(context.get(), Cp1250Tables());
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(),
                              options_, &error, &offset, context.get()));
    if (!code_) throw Exception(Format(msg::kRegexCompileError, offset, ErrorText(error)));
    // The filter may be matched against a hundred thousand events; the JIT makes that
    // much faster. Without it (not built in) the interpreter is used.
    const bool jit = pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE) == 0;
    data_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    limits_.reset(pcre2_match_context_create(nullptr));
    if (!data_ || !limits_) throw std::bad_alloc();
    pcre2_set_match_limit(limits_.get(), kMatchLimit);
    pcre2_set_depth_limit(limits_.get(), kDepthLimit);
    pcre2_set_heap_limit(limits_.get(), kHeapLimitKiB);
    if (jit) {
      jitStack_.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
      if (!jitStack_) throw std::bad_alloc();
      pcre2_jit_stack_assign(limits_.get(), nullptr, jitStack_.get());
    }
  }

  std::string pattern_;
  std::uint32_t options_;
  std::unique_ptr<pcre2_code, CodeFree> code_;
  std::unique_ptr<pcre2_match_data, DataFree> data_;
  std::unique_ptr<pcre2_jit_stack, JitStackFree> jitStack_;
  std::unique_ptr<pcre2_match_context, MatchContextFree> limits_;
};

constexpr std::string_view kBlockPattern =
    "<!--\\{%EVENTLOG%\\}-->(?P<redak>.*)<!--\\{%/EVENTLOG%\\}-->";

// The row placeholders lead the list; outside a row they are marked used, so they are
// filled nowhere but in the rows.
constexpr int kRowPlaceholders = 3;
void SetRowPlaceholdersUsed(Placeholders& values, bool used) {
  for (int i = 0; i < kRowPlaceholders; ++i) values[i].used = used;
}

// One row filled with the event numbered n and appended to out.
void AppendRow(const TdrEvent& event, std::int64_t n, std::string_view rowTemplate, Placeholders& values,
               std::string& out) {
  values[0].value = std::to_string(n);
  values[1].value = HtmlEscape(DateTimeToText(event.Timestamp()));
  values[2].value = HtmlEscape(event.Text());
  SetRowPlaceholdersUsed(values, false);
  FillPlaceholders(rowTemplate, values, out);
  SetRowPlaceholdersUsed(values, true);
}

// What one page asks for: the rows numbered above skip up to stopAt, from a template.
// skip and the stop mark are 64-bit, so page numbers near the ends of the 32-bit range
// neither overflow nor wrap into other pages.
struct PageRows {
  std::string_view rowTemplate;
  std::int64_t skip, stopAt;
};

bool Passes(const TdrEvent& event, Matcher& matcher, const BudgetClock& clock) {
  return !event.Text().empty() && matcher.Find(event.Text(), &clock);
}

// Walks the snapshot newest first, matching as it goes.
void AppendWalkedRows(const TdrEventSnapshot& events, std::string_view filter, const PageRows& page,
                      const BudgetClock& clock, Placeholders& values, std::string& out) {
  Matcher filterMatcher(filter, PCRE2_CASELESS);
  std::int64_t n = 0;
  for (int i = 0; i < events.Count(); ++i) {
    const TdrEvent& event = events.Items(i);
    const bool passes = filter.empty() || Passes(event, filterMatcher, clock);
    if (passes && ++n > page.skip) AppendRow(event, n, page.rowTemplate, values, out);
    // Tested after every visited event, passing or not: page 0 and below stop at once.
    if (n >= page.stopAt) break;
  }
}

// The same rows from the filter's record, which is brought up to the snapshot first:
// events dropped from the log are forgotten, events added since are tested newest first
// (when they alone fill the page, they become the record), and older events are tested
// only as far as the page needs. What was tested stays recorded for the next page, also
// when the budget ends this one.
void AppendRecordedRows(const TdrEventSnapshot& events, TdrFilterMatches& record, std::string_view filter,
                        const PageRows& page, const BudgetClock& clock, Placeholders& values,
                        std::string& out) {
  Matcher filterMatcher(filter, PCRE2_CASELESS);
  const std::uint64_t end = events.End(), oldest = end - static_cast<std::uint64_t>(events.Count());
  const auto at = [&](std::uint64_t number) -> const TdrEvent& { return events.Items(static_cast<int>(end - 1 - number)); };
  const auto need = static_cast<std::size_t>(page.stopAt);
  std::deque<std::uint64_t>& kept = record.kept;

  while (!kept.empty() && kept.front() < oldest) kept.pop_front();
  if (record.high <= oldest || record.low >= record.high) {
    kept.clear();
    record.low = record.high = end;
  }
  record.low = std::max(record.low, oldest);

  std::vector<std::uint64_t> fresh;  // newest first
  std::uint64_t number = end;
  while (number > record.high && fresh.size() < need) {
    --number;
    if (Passes(at(number), filterMatcher, clock)) fresh.push_back(number);
  }
  if (number > record.high) {
    kept.assign(fresh.rbegin(), fresh.rend());
    record.low = number;
  } else {
    kept.insert(kept.end(), fresh.rbegin(), fresh.rend());
  }
  record.high = end;
  while (kept.size() < need && record.low > oldest) {
    if (Passes(at(record.low - 1), filterMatcher, clock)) kept.push_front(record.low - 1);
    --record.low;
  }
  // The n-th kept event, newest first, is the n-th from the end of the record.
  for (std::size_t n = static_cast<std::size_t>(page.skip) + 1; n <= need && n <= kept.size(); ++n)
    AppendRow(at(kept[kept.size() - n]), static_cast<std::int64_t>(n), page.rowTemplate, values, out);
}

// The rows of one page, appended to out. A filtered page from 1 on uses the filter's
// record, unless another page holds it for longer than this page's budget; the page's
// budget counts from its start, the wait included.
void AppendRows(TdrEventLog& log, const PageRows& page, std::string_view filter, const FilterBudget& budget,
                Placeholders& values, std::string& out) {
  const BudgetClock clock(budget, std::chrono::steady_clock::now());
  if (!filter.empty() && page.skip >= 0 && page.stopAt > page.skip) {
    const std::shared_ptr<TdrFilterMatches> record = log.FilterMemory().For(filter);
    if (record->Take(budget.time)) {
      const struct Held {
        TdrFilterMatches& record;
        ~Held() { record.Give(); }
      } held{*record};
      // The snapshot is taken once the record is held, so it is never older than the record.
      return AppendRecordedRows(log.Snapshot(), *record, filter, page, clock, values, out);
    }
  }
  AppendWalkedRows(log.Snapshot(), filter, page, clock, values, out);
}

}  // namespace

std::string DumpEventLog(TdrEventLog& log, std::string_view page, std::string_view pageText,
                         std::string_view filter, std::int32_t rowsPerPage,
                         Placeholders pageValues, const FilterBudget& budget) {
  Matcher block(kBlockPattern, PCRE2_MULTILINE | PCRE2_DOTALL);
  const bool hasBlock = block.Find(page);
  auto [blockStart, blockEnd] = hasBlock ? block.Whole() : std::pair<std::size_t, std::size_t>{0, 0};
  auto [rowStart, rowEnd] = hasBlock ? block.Group("redak") : std::pair<std::size_t, std::size_t>{0, 0};

  const std::int64_t pageNumber = StrToIntDef(pageText, 1);
  Placeholders values = {Placeholder::FirstExact("{%EVENTID%}", ""),
                         Placeholder::FirstExact("{%EVENTTIME%}", ""),
                         Placeholder::FirstExact("{%EVENTTEXT%}", "")};
  SetRowPlaceholdersUsed(values, true);
  values.insert(values.end(), pageValues.begin(), pageValues.end());
  values.push_back(Placeholder::FirstExact("{%EVENTPREVPAGE%}", std::to_string(std::max<std::int64_t>(pageNumber - 1, 1))));
  values.push_back(Placeholder::FirstExact("{%EVENTNEXTPAGE%}", std::to_string(pageNumber + 1)));

  std::string out;
  if (!hasBlock) {
    FillPlaceholders(page, values, out);
    return out;
  }
  FillPlaceholders(page.substr(0, blockStart), values, out);
  if (rowEnd > rowStart) {
    const std::int64_t skip = std::int64_t{rowsPerPage} * (pageNumber - 1);
    AppendRows(log, {page.substr(rowStart, rowEnd - rowStart), skip, skip + rowsPerPage}, filter, budget, values, out);
  }
  FillPlaceholders(page.substr(blockEnd), values, out);
  return out;
}

}  // namespace sv
