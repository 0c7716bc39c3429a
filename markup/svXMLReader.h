#pragma once
// The markup reader: one pass over a document that reports its elements to a handler,
// with the tokenising and syntax faults of TsvXMLNode::Parse (which builds its tree
// through it). A reader that keeps only what it needs reads a document of any shape in
// memory proportional to what it keeps: the reader itself holds one word per open
// element, never a copy of the text.
//
// What a handler sees is what the tree would hold:
//  - the element names are the whole tag texts (an empty-element tag's without its '/');
//  - text goes to the current element only (text outside every element is dropped) and
//    arrives raw, cut where child elements interrupt it; AppendValueText turns the pieces
//    into the element's value (references replaced piece by piece, the whole trimmed);
//  - the document's top element is the node being read: an opening or empty-element tag
//    while no element is open makes it current again, and its later children follow the
//    earlier ones.
#include <cstddef>
#include <string>
#include <string_view>

namespace sv {

class TsvXMLHandler {
 public:
  virtual ~TsvXMLHandler() = default;
  // An element begins and becomes the current one: the top element when `top` (the
  // node being read takes the name), else a new last child of the current element. An
  // empty-element tag inside an element ends at once (EndElement follows); as the top
  // element it stays open.
  virtual void StartElement(std::string_view name, bool top) = 0;
  // The current element ends; its parent (none after the top element) is current again.
  virtual void EndElement() = 0;
  // Raw text of the current element (entity references not yet replaced); never empty.
  virtual void Text(std::string_view raw) = 0;
};

// Reads document text, reporting to the handler. Raises Exception at the faulty byte with
// "Početak taga u tagu", "Tag %s završava na tag %s" or "Završni tag %s bez početnog
// taga"; what a handler raises passes on. Elements still open at the end, and text after
// the last tag, are not reported.
void ReadMarkup(std::string_view text, TsvXMLHandler& handler);

// Appends raw element text to a value held in value[start..], which is trimmed already,
// so that it becomes the trimmed concatenation with the references in `raw` replaced.
// Time proportional to `raw`.
void AppendValueText(std::string& value, std::size_t start, std::string_view raw);

// The five entity references both ways: each of < > & ' " written as its reference, and
// each reference (in any case) read as its byte; any other '&' stays as it is.
void AppendEscaped(std::string& out, std::string_view text);
void AppendUnescaped(std::string& out, std::string_view text);

}  // namespace sv
