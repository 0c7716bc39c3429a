#pragma once
// TsvXMLNode: the program's small markup tree. Every document the program reads or
// writes (settings file, listing, task list) goes through it, so its rules for writing,
// reading, escaping and trimming are the wire and file format of the whole program.
//
// Ownership: a node owns its children. A child is created with `new TsvXMLNode(parent)`,
// which appends it to the parent; deleting a node destroys its subtree and detaches it
// from its parent. A tree belongs to one thread at a time.
//
// No operation leaves a broken tree behind when it raises, running out of memory
// included: a node has either no child list or a non-empty one, and every child knows
// its parent, so whatever was built destroys cleanly. Parse, AsText and destruction use
// no call stack in proportion to the depth. A tree costs some fifty times the text it
// was parsed from; readers of documents from outside use the markup reader
// (svXMLReader.h) and keep only what they need.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

class TsvXMLNode {
 public:
  // A node with empty name and value; appended to parent's children when parent is given.
  explicit TsvXMLNode(TsvXMLNode* parent = nullptr);
  ~TsvXMLNode();
  TsvXMLNode(const TsvXMLNode&) = delete;
  TsvXMLNode& operator=(const TsvXMLNode&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Value() const { return value_; }
  TsvXMLNode* Parent() const { return parent_; }

  // Assigns the name exactly.
  void SetName(std::string name) { name_ = std::move(name); }
  // Assigns the value without its leading and trailing bytes 0x00-0x20.
  void SetValue(std::string_view value);

  int ChildCount() const;
  // The child at a zero-based index; nullptr when the index is outside 0..ChildCount()-1.
  TsvXMLNode* Child(int index) const;
  // Index of the first child from `start` on (a negative start counts as 0) whose name
  // equals `name` without regard to case; -1 when there is none.
  int IndexOfChild(std::string_view name, int start) const;
  // The first child of that name; when there is none, a new child so named if `create`,
  // else nullptr.
  TsvXMLNode* FindOrAddChild(std::string_view name, bool create);

  // Destroys every child, the last first. Name and value stay.
  void Clear();

  // The node and its subtree as document text (CR LF between lines, none at the end).
  std::string AsText() const;
  // Rebuilds the children from document text; the node takes the top element's name.
  // Raises Exception on "Početak taga u tagu", "Tag %s završava na tag %s" and
  // "Završni tag %s bez početnog taga"; the elements built so far stay.
  void Parse(std::string_view text);

  static std::string EscapeText(std::string_view text);
  static std::string UnescapeText(std::string_view text);

 private:
  void AddChild(TsvXMLNode* child);
  void RemoveChild(TsvXMLNode* child);
  void AppendText(std::string& out) const;
  class TreeBuilder;  // Parse's handler of the markup reader

  std::string name_;
  std::string value_;
  TsvXMLNode* parent_ = nullptr;
  // Absent while the node has no children (owning raw pointers; see Clear).
  std::unique_ptr<std::vector<TsvXMLNode*>> children_;
};

}  // namespace sv
