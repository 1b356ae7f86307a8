// document.h: a parsed X file: every data object as a node (template, name, GUID, laid-out data,
// owned strings, children), the top-level order, and lookup by name and GUID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win/large_blocks.h"
#include "platform/xof/templates.h"

namespace qm::xof {

struct ChildEntry {
    bool reference = false;
    std::uint32_t node = 0;  // the embedded child, or the reference's target once resolved
    std::string name;        // reference: the name it gave (may be empty)
    GUID id{};               // reference: the GUID it gave (zero when none)
};

struct Node {
    std::shared_ptr<const TemplateDef> tmpl;
    std::string name;  // empty: unnamed
    GUID id{};
    ByteArray data;
    std::vector<std::string> strings;            // what the STRING members' indices refer to
    std::vector<std::uint32_t> memberOffsets;    // start of each top-level member, then the end
    std::vector<ChildEntry> children;
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const;
};

// Owns every node of one file. Nodes never move once made; children and references name them by
// index, so reference cycles in a file hold no ownership cycles.
struct Document {
    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<std::uint32_t> topLevel;
    std::unordered_map<std::string_view, std::uint32_t> byName;  // first node of each name
    std::map<GUID, std::uint32_t, GuidLess> byId;                // first node of each GUID

    const Node& At(std::uint32_t index) const { return *nodes[index]; }
};

// Objects nest at most this deep (top-level objects are depth 1); deeper files are refused before
// the reader's recursion could exhaust the stack.
constexpr unsigned kMaxObjectDepth = 256;

// Parses a whole file image (header included, any encoding). Templates declared in the file are
// added to `templates`. With `document` null only templates are accepted (a template block), and a
// data object is DXFILEERR_PARSEERROR. With a document, every data object is read into it and the
// references are resolved. The caller discards both on failure.
HRESULT ParseFile(const std::uint8_t* data, std::size_t size, TemplateStore& templates, Document* document);

}  // namespace qm::xof
