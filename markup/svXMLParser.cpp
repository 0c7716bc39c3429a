#include "markup/svXMLParser.h"

#include <algorithm>
#include <utility>

#include "base/Text.h"
#include "markup/svXMLReader.h"

namespace sv {
namespace {

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
  std::string copy(name);  // first, so that a failure leaves no unnamed child behind
  auto* child = new TsvXMLNode(this);
  child->name_ = std::move(copy);
  return child;
}

void TsvXMLNode::AddChild(TsvXMLNode* child) {
  if (!children_) children_ = std::make_unique<std::vector<TsvXMLNode*>>();
  try {
    children_->push_back(child);
  } catch (...) {
    // No memory for the list: the node keeps no empty list, which Clear could not walk.
    if (children_->empty()) children_.reset();
    throw;
  }
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

// Builds the tree of a document below the node being parsed.
class TsvXMLNode::TreeBuilder : public TsvXMLHandler {
 public:
  explicit TreeBuilder(TsvXMLNode& root) : root_(root) {}

  void StartElement(std::string_view name, bool top) override {
    std::string copy(name);  // first, so that a failure leaves no unnamed child behind
    TsvXMLNode* element = top ? &root_ : new TsvXMLNode(current_);
    element->name_ = std::move(copy);
    current_ = element;
  }
  // Closing the node being parsed ends the document's element; its parent (if any)
  // lies outside the document and is never made current.
  void EndElement() override { current_ = current_ == &root_ ? nullptr : current_->parent_; }
  void Text(std::string_view raw) override { AppendValueText(current_->value_, 0, raw); }

 private:
  TsvXMLNode& root_;
  TsvXMLNode* current_ = nullptr;
};

void TsvXMLNode::Parse(std::string_view text) {
  Clear();
  TreeBuilder builder(*this);
  ReadMarkup(text, builder);
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
