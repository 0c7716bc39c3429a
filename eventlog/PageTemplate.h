#pragma once
// Filling the placeholders of a console page template ("{%NAME%}").
//
// Every placeholder of a page is filled in ONE left-to-right pass over the template:
// text that arrives in a value (a server address, an event message, a filter) is copied
// as it is and never taken for a placeholder. Values go in verbatim; callers escape them
// for their place with HtmlEscape or PercentEncode first.
#include <string>
#include <string_view>
#include <vector>

namespace sv {

struct Placeholder {
  std::string name;          // the whole placeholder text, e.g. "{%PORT%}"
  std::string value;         // inserted verbatim
  bool caseSensitive = false;
  bool firstOnly = false;    // fill only its first occurrence
  bool used = false;         // a firstOnly placeholder that has been filled

  static Placeholder Everywhere(std::string name, std::string value) {
    return {std::move(name), std::move(value), false, false, false};
  }
  static Placeholder FirstExact(std::string name, std::string value) {
    return {std::move(name), std::move(value), true, true, false};
  }
};
using Placeholders = std::vector<Placeholder>;

// Appends text to out with its placeholders filled. Where several names match at one
// position, the first in `values` wins. A firstOnly placeholder is marked used once
// filled, so a template may be passed in pieces and still fill it at most once.
void FillPlaceholders(std::string_view text, Placeholders& values, std::string& out);
std::string FillPlaceholders(std::string_view text, Placeholders values);

// The text made safe as HTML content and attribute value: & < > " ' become entities.
std::string HtmlEscape(std::string_view text);
// The text made safe as a query value in a link: every byte except letters, digits and
// - _ . ~ becomes %XX (upper-case hex), so the console's decoder gives the text back.
std::string PercentEncode(std::string_view text);

}  // namespace sv
