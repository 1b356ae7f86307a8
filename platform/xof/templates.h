// templates.h: template definitions (GUID, members with primitive or template types and array
// dimensions, open/closed/restricted child rules) and the store that finds them by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win/unknown.h"

namespace qm::xof {

enum class Primitive : std::uint8_t { None, Word, Dword, Float, Double, Char, Uchar, Byte, String, Sword, Sdword };

// Bytes a primitive occupies in a data object's layout (STRING: a 32-bit string index).
unsigned PrimitiveSize(Primitive p);
// True for the integer types, which may size arrays.
bool PrimitiveIsInteger(Primitive p);
// The primitive a type keyword names (WORD, DWORD, ..., STRING and its CSTRING, UNICODE and LPSTR
// spellings), or None.
Primitive PrimitiveFromName(std::string_view name);

struct TemplateDef;

// One array dimension: a constant, or the value of an earlier scalar integer member.
struct ArrayDim {
    std::uint32_t constant = 0;
    int memberIndex = -1;  // -1: constant
};

struct TemplateMember {
    std::string name;                        // may be empty: members need no name
    Primitive primitive = Primitive::None;   // None: a nested template
    std::shared_ptr<const TemplateDef> nested;
    std::vector<ArrayDim> dims;              // empty: a scalar
};

enum class Openness : std::uint8_t { Closed, Open, Restricted };

struct Restriction {
    std::string name;
    GUID guid{};
    bool hasGuid = false;
};

struct TemplateDef {
    std::string name;
    GUID guid{};
    std::vector<TemplateMember> members;
    Openness openness = Openness::Closed;
    std::vector<Restriction> allowed;
    unsigned depth = 1;  // 1 + the deepest nested member template

    // Whether a data object of `child` may be a child of this template's objects.
    bool Allows(const TemplateDef& child) const;
};

// Nested template members may go this deep; definitions beyond it are refused, which bounds the
// recursion that reads data.
constexpr unsigned kMaxTemplateDepth = 32;

class TemplateStore {
public:
    std::shared_ptr<const TemplateDef> Find(std::string_view name) const;
    // A later definition of the same name replaces the earlier one; data already read keeps the
    // definition it was read with.
    void Add(std::shared_ptr<const TemplateDef> def);
    void Merge(const TemplateStore& other);
    std::size_t Size() const { return byName_.size(); }

private:
    std::unordered_map<std::string, std::shared_ptr<const TemplateDef>> byName_;
};

}  // namespace qm::xof
