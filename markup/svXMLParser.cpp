#include "markup/svXMLParser.h"

#include <algorithm>
#include <utility>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"

namespace sv {
namespace {

// The five special bytes and their entity references, index for index.
constexpr char kSpecialBytes[5] = {'<', '>', '&', '\'', '"'};
constexpr std::string_view kEntities[5] = {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Index of the special byte, -1 for any other. The five bytes are no letters, so the
// case-insensitive comparison of the tables reduces to equality here.
int SpecialIndex(char c) {
  for (int i = 0; i < 5; ++i)
    if (kSpecialBytes[i] == c) return i;
  return -1;
}

// Index of the entity reference that `candidate` names, without regard to case; -1 if none.
int EntityIndex(std::string_view candidate) {
  for (int i = 0; i < 5; ++i)
    if (SameText(kEntities[i], candidate)) return i;
  return -1;
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    const int i = SpecialIndex(c);
    if (i < 0)
      out += c;
    else
      out += kEntities[i];
  }
}

void AppendUnescaped(std::string& out, std::string_view text) {
  // The first ';' at or after the current '&'. Kept between references so that text
  // with many '&' and no ';' is read in one pass, not once per '&'.
  std::size_t semi = 0;
  bool semiKnown = false;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    if (!semiKnown || (semi != std::string_view::npos && semi < i)) {
      semi = text.find(';', i);
      semiKnown = true;
    }
    const int entity =
        semi == std::string_view::npos ? -1 : EntityIndex(text.substr(i, semi - i + 1));
    if (entity < 0) {
      out += '&';
      ++i;
    } else {
      out += kSpecialBytes[entity];
      i = semi + 1;
    }
  }
}

// The opening tag, escaped value and (for a leaf) the closing tag of one node.
void AppendOpening(std::string& out, const TsvXMLNode& node) {
  out += '<';
  out += node.Name();
  out += '>';
  AppendEscaped(out, node.Value());
}

void AppendClosing(std::string& out, const TsvXMLNode& node) {
  out += "</";
  out += node.Name();
  out += '>';
}

}  // namespace

TsvXMLNode::TsvXMLNode(TsvXMLNode* parent) {
  if (parent) parent->AddChild(this);
}

TsvXMLNode::~TsvXMLNode() {
  Clear();
  if (parent_) parent_->RemoveChild(this);
}

void TsvXMLNode::SetValue(std::string_view value) { value_ = Trim(value); }

void TsvXMLNode::AppendValue(std::string_view piece) {
  // The value is trimmed already, so trimming value + piece as a whole only needs the
  // piece's leading blanks dropped while the value is empty, and the trailing blanks of
  // the result dropped. Each byte is appended and dropped at most once: linear overall.
  if (value_.empty())
    while (!piece.empty() && IsBlank(piece.front())) piece.remove_prefix(1);
  value_ += piece;
  while (!value_.empty() && IsBlank(value_.back())) value_.pop_back();
}

int TsvXMLNode::ChildCount() const {
  return children_ ? static_cast<int>(children_->size()) : 0;
}

TsvXMLNode* TsvXMLNode::Child(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return (*children_)[index];
}

int TsvXMLNode::IndexOfChild(std::string_view name, int start) const {
  const int count = ChildCount();
  for (int i = std::max(start, 0); i < count; ++i)
    if (SameText(name, (*children_)[i]->Name())) return i;
  return -1;
}

TsvXMLNode* TsvXMLNode::FindOrAddChild(std::string_view name, bool create) {
  const int index = IndexOfChild(name, 0);
  if (index >= 0) return Child(index);
  if (!create) return nullptr;
  auto* child = new TsvXMLNode(this);
  child->SetName(std::string(name));
  return child;
}

void TsvXMLNode::AddChild(TsvXMLNode* child) {
  if (!children_) children_ = std::make_unique<std::vector<TsvXMLNode*>>();
  children_->push_back(child);
  child->parent_ = this;
}

void TsvXMLNode::RemoveChild(TsvXMLNode* child) {
  child->parent_ = nullptr;
  // A node appears once in its parent's list, so searching from the end finds the same
  // entry as searching from the front, and Clear's removal of the last child is O(1).
  auto it = std::find(children_->rbegin(), children_->rend(), child);
  if (it != children_->rend()) children_->erase(std::next(it).base());
  if (children_->empty()) children_.reset();
}

void TsvXMLNode::Clear() {
  // Destroys the subtree last child first, depth first, without recursion: a node is
  // deleted only once it has no children left, so its destructor does not descend.
  // Deeply nested documents from the network therefore cannot exhaust the stack.
  TsvXMLNode* node = this;
  while (node != this || children_) {
    if (node->children_) {
      node = node->children_->back();
      continue;
    }
    TsvXMLNode* parent = node->parent_;
    delete node;  // detaches itself from parent
    node = parent;
  }
}

std::string TsvXMLNode::AsText() const {
  std::string out;
  AppendText(out);
  return out;
}

void TsvXMLNode::AppendText(std::string& out) const {
  // Depth-first walk with an explicit stack of (node, index of the next child), so the
  // depth of the tree does not reach the call stack.
  std::vector<std::pair<const TsvXMLNode*, int>> stack;
  AppendOpening(out, *this);
  stack.emplace_back(this, 0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next < node->ChildCount()) {
      const TsvXMLNode* child = node->Child(next++);
      out += "\r\n";
      AppendOpening(out, *child);
      stack.emplace_back(child, 0);  // may invalidate node and next: not used after
      continue;
    }
    if (node->ChildCount() > 0) out += "\r\n";
    AppendClosing(out, *node);
    stack.pop_back();
  }
}

void TsvXMLNode::Parse(std::string_view text) {
  Clear();
  std::string buffer, piece;
  bool inTag = false;
  TsvXMLNode* current = nullptr;
  for (char ch : text) {
    if (ch == '<') {
      if (inTag) throw Exception(msg::kTagInTag);
      if (!buffer.empty() && current) {
        piece.clear();
        AppendUnescaped(piece, buffer);
        current->AppendValue(piece);
      }
      buffer.clear();
      inTag = true;
    } else if (ch == '>' && inTag) {
      if (!buffer.empty()) current = ParseTag(buffer, current);
      buffer.clear();
      inTag = false;
    } else {
      buffer += ch;
    }
  }
}

TsvXMLNode* TsvXMLNode::ParseTag(const std::string& tag, TsvXMLNode* current) {
  if (tag.back() == '/') {  // empty-element tag
    std::string name = tag.substr(0, tag.size() - 1);
    if (!current) {
      SetName(std::move(name));
      return this;
    }
    (new TsvXMLNode(current))->SetName(std::move(name));
    return current;
  }
  if (tag.front() == '/') {  // closing tag
    if (!current) throw Exception(Format(msg::kClosingWithoutOpening, tag));
    const std::string& name = current->Name();
    if (tag.size() != name.size() + 1 || tag.compare(1, std::string::npos, name) != 0)
      throw Exception(Format(msg::kTagMismatch, name, tag));
    // Closing this node ends the document's element; its parent (if any) lies outside
    // the document and is never made current.
    return current == this ? nullptr : current->parent_;
  }
  TsvXMLNode* opened = current ? new TsvXMLNode(current) : this;
  opened->SetName(tag);
  return opened;
}

std::string TsvXMLNode::EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string TsvXMLNode::UnescapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUnescaped(out, text);
  return out;
}

}  // namespace sv
