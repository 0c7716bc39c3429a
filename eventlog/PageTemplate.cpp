#include "eventlog/PageTemplate.h"

#include "base/Text.h"

namespace sv {
namespace {

bool MatchesAt(std::string_view text, std::size_t pos, const Placeholder& p) {
  if (p.firstOnly && p.used) return false;
  if (text.size() - pos < p.name.size()) return false;
  std::string_view candidate = text.substr(pos, p.name.size());
  return p.caseSensitive ? candidate == p.name : SameText(candidate, p.name);
}

// The placeholder that starts at text[pos], or nullptr.
Placeholder* FindAt(std::string_view text, std::size_t pos, Placeholders& values) {
  for (Placeholder& p : values) {
    if (MatchesAt(text, pos, p)) return &p;
  }
  return nullptr;
}

}  // namespace

void FillPlaceholders(std::string_view text, Placeholders& values, std::string& out) {
  out.reserve(out.size() + text.size());
  std::size_t copied = 0;
  std::size_t pos = text.find("{%");
  while (pos != std::string_view::npos) {
    Placeholder* p = FindAt(text, pos, values);
    if (!p) {
      pos = text.find("{%", pos + 1);
      continue;
    }
    out.append(text, copied, pos - copied);
    out += p->value;
    p->used = true;
    copied = pos + p->name.size();
    pos = text.find("{%", copied);
  }
  out.append(text, copied, std::string_view::npos);
}

std::string FillPlaceholders(std::string_view text, Placeholders values) {
  std::string out;
  FillPlaceholders(text, values, out);
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace sv
