// The script document model: what template scripts see of web pages.
//
// - Document(address, encoding): downloads and parses a page (with the HTTP
//   session of the interpreter's job) and gives the Node of its root, or
//   undefined.
// - Article(): an empty record of class "Article" that a script fills.
// - Node: one node of a parsed tree (read-only properties: relatives, name,
//   texts, markup, lists of descendants and children, attributes, type, and
//   the methods getAttribute, getElementsBy..., toString). Exactly one Node
//   object exists per tree node; Node objects and their trees live as long as
//   the interpreter.
// - Node lists: arrays of Node objects with the filters filterId,
//   filterClass, filterTag, filterContent and filterRange.
//
// The functions below push or read script values. Those that push may throw
// script errors: call them from native functions or protected calls, with
// no C++ object alive in the frames between.
#pragma once

#include "duktape.h"

namespace Tidy {
class Document;
class Node;
}  // namespace Tidy

// Node type numbers as scripts see them (Node.ELEMENT_NODE, ...).
enum ScriptNodeType {
  kScriptDocumentNode = 0,
  kScriptDocumentTypeNode = 1,
  kScriptCommentNode = 2,
  kScriptProcessingInstructionNode = 3,
  kScriptTextNode = 4,
  kScriptElementNode = 5,
  kScriptElementEndNode = 6,
  kScriptElementStartEndNode = 7,
  kScriptCDataSectionNode = 8,
  kScriptSectionNode = 9,
  kScriptAspNode = 10,
  kScriptJsteNode = 11,
  kScriptPhpNode = 12,
  kScriptXmlDeclarationNode = 13,
};

// The type number of a tree node: elements without content of their own (an
// HTML void element such as br or img, an empty XML element) are
// start-and-end elements.
int GetScriptNodeType(const Tidy::Node* node) noexcept;

// Defines the constructors "Document" and "Article" (in that order) in the
// global object at index global, not enumerated, and prepares the Node and
// node list machinery.
void RegisterScriptDocumentModel(duk_context* ctx, duk_idx_t global);

// Pushes the Node object of a tree node (made on first need), or undefined
// for a null node.
void PushScriptNode(duk_context* ctx, Tidy::Document* document, Tidy::Node* node);
// The tree node of the Node object at idx (and its document), or null when
// the value is not a Node object.
Tidy::Node* GetScriptNode(duk_context* ctx, duk_idx_t idx, Tidy::Document** document = nullptr);

// Pushes a new, empty node list.
void PushNodeList(duk_context* ctx);

// Pushes a new, empty Article object.
void PushArticleObject(duk_context* ctx);
// The value at idx is an object made by Article (or PushArticleObject).
bool IsArticleObject(duk_context* ctx, duk_idx_t idx);
