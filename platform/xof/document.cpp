// document.cpp: reads template definitions and data objects from the token stream of either
// encoding, lays data out as the templates say, and resolves references by name and GUID.
#include "platform/xof/document.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/xof/format.h"
#include "platform/xof/lexer.h"
#include "platform/xof/xof.h"

namespace qm::xof {

bool GuidLess::operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

namespace {

constexpr GUID kNoGuid{};
// Array element counts saturate here; reading stops long before, when the data runs out.
constexpr std::uint64_t kCountCap = std::uint64_t(1) << 40;

// a x b, saturating at kCountCap (so that several large dimensions never wrap around).
std::uint64_t CappedProduct(std::uint64_t a, std::uint64_t b) {
    a = std::min(a, kCountCap);
    b = std::min(b, kCountCap);
    return (b != 0 && a > kCountCap / b) ? kCountCap : a * b;
}

bool IsSeparator(TokenKind k) { return k == TokenKind::Comma || k == TokenKind::Semicolon; }

std::uint32_t LoadU32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Text integers: decimal, optionally signed; an integral decimal fraction ("3.000") is accepted
// as exporters sometimes write one.
bool ParseTextInteger(std::string_view text, std::int64_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last) return true;
    double d = 0;
    auto [ptr2, ec2] = std::from_chars(first, last, d);
    if (ec2 != std::errc() || ptr2 != last || !(d >= -9.0e18 && d <= 9.0e18) || d != std::trunc(d)) return false;
    value = static_cast<std::int64_t>(d);
    return true;
}

template <class T>
bool ParseTextReal(std::string_view text, T& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), last, value);
    return ec == std::errc() && ptr == last;
}

// Whether every value of a template is a scalar of one fixed-size primitive (nested templates
// included, no arrays or strings), as for vectors, colours and texture coordinates: an array of
// such elements reads as one array of `width` times as many values of that primitive.
bool UniformScalars(const TemplateDef& def, Primitive& primitive, std::uint64_t& width) {
    if (def.members.empty()) return false;
    for (const TemplateMember& m : def.members) {
        if (!m.dims.empty()) return false;
        if (m.nested) {
            if (!UniformScalars(*m.nested, primitive, width)) return false;
            continue;
        }
        if (m.primitive == Primitive::String) return false;
        if (primitive != Primitive::None && m.primitive != primitive) return false;
        primitive = m.primitive;
        if (++width > (1u << 20)) return false;
    }
    return true;
}

// Whether a template is a count and the values it sizes, {DWORD n; array T v[n];}, with T either
// of the two primitives given.
bool CountedList(const TemplateDef& def, Primitive one, Primitive other) {
    if (def.members.size() != 2) return false;
    const TemplateMember& n = def.members[0];
    const TemplateMember& values = def.members[1];
    return !n.nested && n.dims.empty() && n.primitive == Primitive::Dword && !values.nested &&
           values.dims.size() == 1 && values.dims[0].memberIndex == 0 &&
           (values.primitive == one || values.primitive == other);
}

// A mesh face's vertex indices, {DWORD n; array DWORD v[n];}: its data is laid out exactly as a
// binary integer list gives it.
bool CountedIntegerList(const TemplateDef& def) { return CountedList(def, Primitive::Dword, Primitive::Sdword); }

// A 32-bit integer and then a counted float list, {DWORD t; {DWORD n; array FLOAT v[n];}}, as an
// animation key's time and values.
bool TimedFloatList(const TemplateDef& def) {
    if (def.members.size() != 2) return false;
    const TemplateMember& time = def.members[0];
    const TemplateMember& values = def.members[1];
    return !time.nested && time.dims.empty() &&
           (time.primitive == Primitive::Dword || time.primitive == Primitive::Sdword) && values.nested &&
           values.dims.empty() && CountedList(*values.nested, Primitive::Float, Primitive::Float);
}

// Grows a node's data ahead to hold `extra` more bytes, so that the values appended next do not
// reallocate one by one.
void MakeRoom(decltype(Node::data)& data, std::uint64_t extra) { data.grow(std::size_t(data.size() + extra)); }

class FileParser {
public:
    FileParser(Lexer& lexer, TemplateStore& templates, Document* document)
        : lex_(lexer), templates_(templates), doc_(document) {}

    HRESULT Run();

private:
    HRESULT Expect(TokenKind kind);
    HRESULT ReadTemplate();
    HRESULT ReadRestrictions(TemplateDef& def);
    HRESULT ReadObject(std::string_view templateName, unsigned depth, std::uint32_t& index);
    HRESULT ReadReference(ChildEntry& entry);
    HRESULT ReadMembers(const TemplateDef& def, Node& node, bool topLevel);
    HRESULT ReadScalar(Primitive p, Node& node, std::int64_t& value);
    HRESULT ReadArray(Primitive p, std::uint64_t count, Node& node);
    HRESULT ReadTimedFloatLists(std::uint64_t count, Node& node, std::uint64_t& k);
    HRESULT ReadInteger(std::int64_t& value);
    HRESULT ReadReal(bool single, double& value);
    HRESULT ReadString(std::string_view& value);
    HRESULT TakeValueToken(Token& token);
    // The most values the rest of the input could give: a binary value takes at least 4 bytes, a
    // text one at least a character and a separator.
    std::uint64_t PossibleValues() const {
        return listLeft_ + (lex_.Binary() ? lex_.Remaining() / 4 : lex_.Remaining() / 2 + 1);
    }
    HRESULT Resolve();

    Lexer& lex_;
    TemplateStore& templates_;
    Document* doc_;
    // The binary list being consumed value by value.
    const std::uint8_t* list_ = nullptr;
    std::uint32_t listLeft_ = 0;
    bool listIsFloat_ = false;
    std::uint64_t valuesRead_ = 0;
};

HRESULT FileParser::Expect(TokenKind kind) {
    Token t;
    HRESULT hr = lex_.Take(t);
    if (FAILED(hr)) return hr;
    return t.kind == kind ? S_OK : DXFILEERR_PARSEERROR;
}

HRESULT FileParser::Run() {
    for (;;) {
        Token t;
        HRESULT hr = lex_.Take(t);
        if (FAILED(hr)) return hr;
        if (t.kind == TokenKind::End) break;
        if (IsSeparator(t.kind)) continue;
        if (t.kind != TokenKind::Name) return DXFILEERR_PARSEERROR;
        if (t.text == "template") {
            hr = ReadTemplate();
        } else if (doc_ == nullptr) {
            hr = DXFILEERR_PARSEERROR;
        } else {
            std::uint32_t index = 0;
            hr = ReadObject(t.text, 1, index);
            if (SUCCEEDED(hr)) doc_->topLevel.push_back(index);
        }
        if (FAILED(hr)) return hr;
    }
    return doc_ ? Resolve() : S_OK;
}

HRESULT FileParser::ReadTemplate() {
    Token t;
    HRESULT hr = lex_.Take(t);
    if (FAILED(hr)) return hr;
    if (t.kind != TokenKind::Name) return DXFILEERR_PARSEERROR;
    auto def = std::make_shared<TemplateDef>();
    def->name.assign(t.text);
    if (FAILED(hr = Expect(TokenKind::OBrace))) return hr;
    const Token* next = nullptr;
    if (FAILED(hr = lex_.Peek(&next))) return hr;
    if (next->kind == TokenKind::Guid) {
        def->guid = next->guid;
        lex_.Take(t);
    }
    bool restrictionsRead = false;
    for (;;) {
        if (FAILED(hr = lex_.Take(t))) return hr;
        if (IsSeparator(t.kind)) continue;
        if (t.kind == TokenKind::CBrace) break;
        if (restrictionsRead) return DXFILEERR_PARSEERROR;  // nothing may follow the child rules
        if (t.kind == TokenKind::OBracket) {
            if (FAILED(hr = ReadRestrictions(*def))) return hr;
            restrictionsRead = true;
            continue;
        }
        if (t.kind != TokenKind::Name) return DXFILEERR_PARSEERROR;
        const bool isArray = t.text == "array";
        if (isArray && (FAILED(hr = lex_.Take(t)) || t.kind != TokenKind::Name)) return FAILED(hr) ? hr : DXFILEERR_PARSEERROR;
        TemplateMember member;
        member.primitive = PrimitiveFromName(t.text);
        if (member.primitive == Primitive::None) {
            member.nested = templates_.Find(t.text);
            if (!member.nested) return DXFILEERR_NOTEMPLATE;
            def->depth = std::max(def->depth, member.nested->depth + 1);
        }
        if (FAILED(hr = lex_.Peek(&next))) return hr;
        if (next->kind == TokenKind::Name) {
            member.name.assign(next->text);
            lex_.Take(t);
        } else if (isArray) {
            return DXFILEERR_PARSEERROR;
        }
        while (isArray) {
            if (FAILED(hr = lex_.Peek(&next))) return hr;
            if (next->kind != TokenKind::OBracket) break;
            lex_.Take(t);
            if (FAILED(hr = lex_.Take(t))) return hr;
            ArrayDim dim;
            std::int64_t constant = 0;
            if (t.kind == TokenKind::Integer) {
                dim.constant = t.value;
            } else if (t.kind == TokenKind::Number) {
                if (!ParseTextInteger(t.text, constant) || constant < 0 || constant > 0xFFFFFFFFll)
                    return DXFILEERR_BADARRAYSIZE;
                dim.constant = std::uint32_t(constant);
            } else if (t.kind == TokenKind::Name) {
                for (std::size_t i = 0; i < def->members.size(); ++i)
                    if (def->members[i].name == t.text) dim.memberIndex = int(i);
                if (dim.memberIndex < 0) return DXFILEERR_BADARRAYSIZE;
                const TemplateMember& sizer = def->members[std::size_t(dim.memberIndex)];
                if (!sizer.dims.empty() || !PrimitiveIsInteger(sizer.primitive)) return DXFILEERR_BADARRAYSIZE;
            } else {
                return DXFILEERR_PARSEERROR;
            }
            if (FAILED(hr = Expect(TokenKind::CBracket))) return hr;
            member.dims.push_back(dim);
        }
        if (isArray && member.dims.empty()) return DXFILEERR_BADARRAYSIZE;
        def->members.push_back(std::move(member));
    }
    if (def->depth > kMaxTemplateDepth) return DXFILEERR_PARSEERROR;
    templates_.Add(std::move(def));
    return S_OK;
}

HRESULT FileParser::ReadRestrictions(TemplateDef& def) {
    Token t;
    HRESULT hr = lex_.Take(t);
    if (FAILED(hr)) return hr;
    if (t.kind == TokenKind::Dot) {
        for (int i = 0; i < 2; ++i)
            if (FAILED(hr = Expect(TokenKind::Dot))) return hr;
        def.openness = Openness::Open;
        return Expect(TokenKind::CBracket);
    }
    def.openness = Openness::Restricted;
    for (;; hr = lex_.Take(t)) {
        if (FAILED(hr)) return hr;
        if (t.kind == TokenKind::CBracket) return S_OK;
        if (t.kind == TokenKind::Comma) continue;
        Restriction r;
        if (t.kind == TokenKind::Name) {
            r.name.assign(t.text);
            const Token* next = nullptr;
            if (FAILED(hr = lex_.Peek(&next))) return hr;
            if (next->kind == TokenKind::Guid) {
                r.guid = next->guid;
                r.hasGuid = true;
                lex_.Take(t);
            }
        } else if (t.kind == TokenKind::Guid) {
            r.guid = t.guid;
            r.hasGuid = true;
        } else {
            return DXFILEERR_PARSEERROR;
        }
        def.allowed.push_back(std::move(r));
    }
}

HRESULT FileParser::ReadReference(ChildEntry& entry) {
    entry.reference = true;
    Token t;
    HRESULT hr = S_OK;
    bool any = false;
    for (;;) {
        if (FAILED(hr = lex_.Take(t))) return hr;
        if (t.kind == TokenKind::CBrace) break;
        if (IsSeparator(t.kind)) continue;
        if ((t.kind == TokenKind::Name || t.kind == TokenKind::Number) && entry.name.empty() && !any) {
            entry.name.assign(t.text);
        } else if (t.kind == TokenKind::Guid && entry.id == kNoGuid) {
            entry.id = t.guid;
        } else {
            return DXFILEERR_PARSEERROR;
        }
        any = true;
    }
    return any ? S_OK : DXFILEERR_PARSEERROR;
}

HRESULT FileParser::ReadObject(std::string_view templateName, unsigned depth, std::uint32_t& index) {
    if (depth > kMaxObjectDepth) return DXFILEERR_PARSEERROR;
    std::shared_ptr<const TemplateDef> def = templates_.Find(templateName);
    if (!def) return DXFILEERR_NOTEMPLATE;
    auto owned = std::make_unique<Node>();
    Node& node = *owned;
    node.tmpl = def;
    index = std::uint32_t(doc_->nodes.size());
    doc_->nodes.push_back(std::move(owned));

    Token t;
    const Token* next = nullptr;
    HRESULT hr = lex_.Peek(&next);
    if (FAILED(hr)) return hr;
    if (next->kind == TokenKind::Name || next->kind == TokenKind::Number) {
        node.name.assign(next->text);
        lex_.Take(t);
        if (FAILED(hr = lex_.Peek(&next))) return hr;
    }
    if (next->kind == TokenKind::Guid) {
        node.id = next->guid;
        lex_.Take(t);
    }
    if (FAILED(hr = Expect(TokenKind::OBrace))) return hr;
    if (FAILED(hr = ReadMembers(*def, node, true))) return hr;

    for (;;) {
        if (listLeft_ > 0) return DXFILEERR_PARSEERROR;  // more values than the template holds
        if (FAILED(hr = lex_.Take(t))) return hr;
        if (IsSeparator(t.kind)) continue;
        if (t.kind == TokenKind::CBrace) return S_OK;
        ChildEntry entry;
        if (t.kind == TokenKind::OBrace) {
            if (FAILED(hr = ReadReference(entry))) return hr;
        } else if (t.kind == TokenKind::Name) {
            std::uint32_t child = 0;
            if (FAILED(hr = ReadObject(t.text, depth + 1, child))) return hr;
            if (!def->Allows(*doc_->At(child).tmpl)) return DXFILEERR_BADOBJECT;
            entry.node = child;
        } else {
            return DXFILEERR_PARSEERROR;
        }
        node.children.push_back(std::move(entry));
    }
}

HRESULT FileParser::ReadMembers(const TemplateDef& def, Node& node, bool topLevel) {
    // Values of the scalar integer members, for the arrays sized by them.
    std::int64_t small[16];
    std::vector<std::int64_t> large;
    std::int64_t* scalars = small;
    if (def.members.size() > std::size(small)) {
        large.resize(def.members.size());
        scalars = large.data();
    }
    if (topLevel) node.memberOffsets.reserve(def.members.size() + 1);
    HRESULT hr = S_OK;
    for (std::size_t i = 0; i < def.members.size(); ++i) {
        const TemplateMember& m = def.members[i];
        if (topLevel) node.memberOffsets.push_back(std::uint32_t(node.data.size()));
        scalars[i] = 0;
        if (m.dims.empty()) {
            hr = m.nested ? ReadMembers(*m.nested, node, false) : ReadScalar(m.primitive, node, scalars[i]);
            if (FAILED(hr)) return hr;
            continue;
        }
        std::uint64_t count = 1;
        for (const ArrayDim& dim : m.dims) {
            const std::int64_t n = dim.memberIndex < 0 ? std::int64_t(dim.constant) : scalars[dim.memberIndex];
            if (n < 0) return DXFILEERR_BADARRAYSIZE;
            count = CappedProduct(count, std::uint64_t(n));
        }
        if (!m.nested) {
            if (FAILED(hr = ReadArray(m.primitive, count, node))) return hr;
            continue;
        }
        Primitive uniform = Primitive::None;
        std::uint64_t width = 0;
        if (UniformScalars(*m.nested, uniform, width)) {
            if (FAILED(hr = ReadArray(uniform, CappedProduct(count, width), node))) return hr;
            continue;
        }
        std::uint64_t k = 0;
        if (lex_.Binary() && lex_.FloatSize() == 4 && TimedFloatList(*m.nested)) {
            if (FAILED(hr = ReadTimedFloatLists(count, node, k))) return hr;
        } else if (listLeft_ > 0 && !listIsFloat_ && CountedIntegerList(*m.nested)) {
            // The elements that lie whole in the binary integer list being read are copied from it
            // in one go; one that runs past its end is read value by value below.
            const std::uint8_t* at = list_;
            std::uint32_t left = listLeft_;
            while (k < count && left > 0) {
                const std::uint32_t n = LoadU32(at);
                if (n >= left) break;
                at += (std::size_t(n) + 1) * 4;
                left -= n + 1;
                ++k;
            }
            const std::size_t bytes = std::size_t(at - list_);
            node.data.append(list_, bytes);
            valuesRead_ += listLeft_ - left;
            list_ = at;
            listLeft_ = left;
        }
        for (; k < count; ++k) {
            const std::uint64_t before = valuesRead_;
            const std::size_t start = node.data.size();
            if (FAILED(hr = ReadMembers(*m.nested, node, false))) return hr;
            // An element that read no value holds no data, and neither would the rest.
            if (valuesRead_ == before) break;
            // Room for the other elements at the first one's size, as far as the input can back it
            // (no value takes more than 8 bytes).
            if (k == 0 && count > 1)
                MakeRoom(node.data, std::min((count - 1) * (node.data.size() - start), 8 * PossibleValues()));
        }
    }
    if (topLevel) node.memberOffsets.push_back(std::uint32_t(node.data.size()));
    if (node.data.size() > std::numeric_limits<std::uint32_t>::max()) return DXFILEERR_BADARRAYSIZE;
    return S_OK;
}

// Binary elements of TimedFloatList's shape, as long as each lies in the lists binary writers give
// it: the time and the count as two values of an integer list, the values as one float list. Each
// element is read as the value-by-value path reads it; the first one that lies otherwise is left to
// that path, at element k.
HRESULT FileParser::ReadTimedFloatLists(std::uint64_t count, Node& node, std::uint64_t& k) {
    const std::size_t start = node.data.size();
    for (; k < count; ++k) {
        if (listLeft_ == 0) {
            if (!lex_.TakeList(TokenKind::IntegerList, 2, &list_, &listLeft_)) return S_OK;
            listIsFloat_ = false;
        }
        if (listIsFloat_ || listLeft_ < 2) return S_OK;
        const std::uint32_t n = LoadU32(list_ + 4);
        node.data.append(list_, 8);
        list_ += 8;
        listLeft_ -= 2;
        valuesRead_ += 2;
        if (n > 0) {
            const std::uint8_t* values = nullptr;
            std::uint32_t listed = 0;
            if (listLeft_ == 0 && lex_.TakeList(TokenKind::FloatList, n, &values, &listed)) {
                node.data.append(values, std::size_t(n) * 4);
                list_ = values + std::size_t(n) * 4;
                listLeft_ = listed - n;
                listIsFloat_ = true;
                valuesRead_ += n;
            } else if (HRESULT hr = ReadArray(Primitive::Float, n, node); FAILED(hr)) {
                return hr;
            }
        }
        if (k == 0 && count > 1)
            MakeRoom(node.data, std::min((count - 1) * (node.data.size() - start), 8 * PossibleValues()));
    }
    return S_OK;
}

template <class T>
void Append(decltype(Node::data)& data, T value) {
    data.append(&value, sizeof(T));
}

HRESULT FileParser::ReadScalar(Primitive p, Node& node, std::int64_t& value) {
    HRESULT hr = S_OK;
    std::int64_t v = 0;
    double d = 0;
    switch (p) {
        case Primitive::Float:
            if (FAILED(hr = ReadReal(true, d))) return hr;
            // Doubles beyond the float range are stored as infinities.
            if (d > double(std::numeric_limits<float>::max())) d = HUGE_VAL;
            if (d < -double(std::numeric_limits<float>::max())) d = -HUGE_VAL;
            Append(node.data, float(d));
            return S_OK;
        case Primitive::Double:
            if (FAILED(hr = ReadReal(false, d))) return hr;
            Append(node.data, d);
            return S_OK;
        case Primitive::String: {
            std::string_view s;
            if (FAILED(hr = ReadString(s))) return hr;
            Append(node.data, std::uint32_t(node.strings.size()));
            node.strings.emplace_back(s);
            return S_OK;
        }
        default:
            break;
    }
    if (FAILED(hr = ReadInteger(v))) return hr;
    if (v < std::int64_t(std::numeric_limits<std::int32_t>::min()) || v > std::int64_t(0xFFFFFFFFll))
        return DXFILEERR_BADVALUE;
    // The rest of a binary integer list belongs to this object too (a list left over at its end is
    // an error), so its data is given room for all of it at once: a count read before a large array,
    // as a mesh's face count, does not double the data only for the array to double it again.
    if (listLeft_ > 0) MakeRoom(node.data, 4 + std::uint64_t(listLeft_) * 4);
    // Stored as its low bytes; the value seen by array sizes is what the stored type holds.
    switch (p) {
        case Primitive::Word: Append(node.data, std::uint16_t(v)); value = std::uint16_t(v); break;
        case Primitive::Sword: Append(node.data, std::int16_t(v)); value = std::int16_t(v); break;
        case Primitive::Dword: Append(node.data, std::uint32_t(v)); value = std::uint32_t(v); break;
        case Primitive::Sdword: Append(node.data, std::int32_t(v)); value = std::int32_t(v); break;
        case Primitive::Char: Append(node.data, std::int8_t(v)); value = std::int8_t(v); break;
        default: Append(node.data, std::uint8_t(v)); value = std::uint8_t(v); break;
    }
    return S_OK;
}

HRESULT FileParser::ReadArray(Primitive p, std::uint64_t count, Node& node) {
    const unsigned size = PrimitiveSize(p);
    // Room for the values, but no more than the rest of the input can hold, so that a count the
    // file cannot back reserves nothing beyond it.
    MakeRoom(node.data, std::min(count, PossibleValues()) * size);
    std::uint64_t i = 0;
    // Text floats and DWORDs, the bulk of big text files, are read in one loop for as long as
    // numbers follow; anything else goes through the value readers below.
    std::string_view text;
    bool parsed = false;
    if (p == Primitive::Float) {
        float f = 0;
        while (i < count && listLeft_ == 0 && lex_.TakeTextNumber(text, f, parsed)) {
            if (!parsed && !ParseTextReal(text, f)) return DXFILEERR_PARSEERROR;
            Append(node.data, f);
            ++valuesRead_;
            ++i;
        }
    } else if (p == Primitive::Dword) {
        std::int64_t v = 0;
        while (i < count && listLeft_ == 0 && lex_.TakeTextNumber(text, v, parsed)) {
            if (!parsed && !ParseTextInteger(text, v)) return DXFILEERR_PARSEERROR;
            if (v < std::int64_t(std::numeric_limits<std::int32_t>::min()) || v > std::int64_t(0xFFFFFFFFll))
                return DXFILEERR_BADVALUE;
            Append(node.data, std::uint32_t(v));
            ++valuesRead_;
            ++i;
        }
    }
    std::int64_t ignored = 0;
    for (; i < count;) {
        // Binary lists of the member's own width are copied as they stand.
        if (listLeft_ > 0 && size == 4 &&
            ((!listIsFloat_ && (p == Primitive::Dword || p == Primitive::Sdword)) ||
             (listIsFloat_ && p == Primitive::Float && lex_.FloatSize() == 4))) {
            const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(count - i, listLeft_));
            node.data.append(list_, std::size_t(n) * 4);
            list_ += std::size_t(n) * 4;
            listLeft_ -= n;
            valuesRead_ += n;
            i += n;
            continue;
        }
        HRESULT hr = ReadScalar(p, node, ignored);
        if (FAILED(hr)) return hr;
        ++i;
    }
    return S_OK;
}

HRESULT FileParser::TakeValueToken(Token& t) {
    for (;;) {
        HRESULT hr = lex_.Take(t);
        if (FAILED(hr)) return hr;
        if (IsSeparator(t.kind)) continue;
        if ((t.kind == TokenKind::IntegerList || t.kind == TokenKind::FloatList) && t.count == 0) continue;
        if (t.kind == TokenKind::IntegerList || t.kind == TokenKind::FloatList) {
            list_ = t.list;
            listLeft_ = t.count;
            listIsFloat_ = t.kind == TokenKind::FloatList;
        }
        return S_OK;
    }
}

HRESULT FileParser::ReadInteger(std::int64_t& value) {
    if (listLeft_ == 0) {
        // Text numbers straight from the input, without making a token.
        std::string_view text;
        if (lex_.TakeTextNumber(text)) {
            if (!ParseTextInteger(text, value)) return DXFILEERR_PARSEERROR;
            ++valuesRead_;
            return S_OK;
        }
        Token t;
        HRESULT hr = TakeValueToken(t);
        if (FAILED(hr)) return hr;
        if (t.kind == TokenKind::Integer) {
            value = t.value;
            ++valuesRead_;
            return S_OK;
        }
        if (t.kind == TokenKind::Number) {
            if (!ParseTextInteger(t.text, value)) return DXFILEERR_PARSEERROR;
            ++valuesRead_;
            return S_OK;
        }
        if (t.kind != TokenKind::IntegerList && t.kind != TokenKind::FloatList) return DXFILEERR_PARSEERROR;
    }
    if (listIsFloat_) return DXFILEERR_PARSEERROR;
    value = LoadU32(list_);
    list_ += 4;
    --listLeft_;
    ++valuesRead_;
    return S_OK;
}

HRESULT FileParser::ReadReal(bool single, double& value) {
    if (listLeft_ == 0) {
        auto parse = [&](std::string_view text) {
            if (!single) return ParseTextReal(text, value);
            float f = 0;
            const bool ok = ParseTextReal(text, f);
            value = f;
            return ok;
        };
        std::string_view text;
        if (lex_.TakeTextNumber(text)) {
            if (!parse(text)) return DXFILEERR_PARSEERROR;
            ++valuesRead_;
            return S_OK;
        }
        Token t;
        HRESULT hr = TakeValueToken(t);
        if (FAILED(hr)) return hr;
        if (t.kind == TokenKind::Number) {
            if (!parse(t.text)) return DXFILEERR_PARSEERROR;
            ++valuesRead_;
            return S_OK;
        }
        if (t.kind != TokenKind::IntegerList && t.kind != TokenKind::FloatList) return DXFILEERR_PARSEERROR;
    }
    if (!listIsFloat_) return DXFILEERR_PARSEERROR;
    if (lex_.FloatSize() == 4) {
        float f;
        std::memcpy(&f, list_, 4);
        value = f;
    } else {
        std::memcpy(&value, list_, 8);
    }
    list_ += lex_.FloatSize();
    --listLeft_;
    ++valuesRead_;
    return S_OK;
}

HRESULT FileParser::ReadString(std::string_view& value) {
    if (listLeft_ > 0) return DXFILEERR_PARSEERROR;
    Token t;
    HRESULT hr = TakeValueToken(t);
    if (FAILED(hr)) return hr;
    if (t.kind != TokenKind::String) return DXFILEERR_PARSEERROR;
    value = t.text;
    ++valuesRead_;
    return S_OK;
}

HRESULT FileParser::Resolve() {
    Document& doc = *doc_;
    for (std::uint32_t i = 0; i < doc.nodes.size(); ++i) {
        const Node& node = *doc.nodes[i];
        if (!node.name.empty()) doc.byName.emplace(std::string_view(node.name), i);
        if (node.id != kNoGuid) doc.byId.emplace(node.id, i);
    }
    for (auto& owned : doc.nodes) {
        for (ChildEntry& entry : owned->children) {
            if (!entry.reference) continue;
            bool found = false;
            if (!entry.name.empty()) {
                auto it = doc.byName.find(entry.name);
                if (it != doc.byName.end()) {
                    entry.node = it->second;
                    found = true;
                }
            }
            if (!found && entry.id != kNoGuid) {
                auto it = doc.byId.find(entry.id);
                if (it != doc.byId.end()) {
                    entry.node = it->second;
                    found = true;
                }
            }
            if (!found) return DXFILEERR_BADDATAREFERENCE;
            if (!owned->tmpl->Allows(*doc.At(entry.node).tmpl)) return DXFILEERR_BADOBJECT;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT ParseFile(const std::uint8_t* data, std::size_t size, TemplateStore& templates, Document* document) {
    FileHeader header;
    HRESULT hr = ReadHeader(data, size, header);
    if (FAILED(hr)) return hr;
    const std::uint8_t* body = data + kHeaderSize;
    std::size_t bodySize = size - kHeaderSize;
    ByteArray expanded;
    if (header.compressed) {
        if (FAILED(hr = ExpandBody(body, bodySize, expanded))) return hr;
        body = expanded.data();
        bodySize = expanded.size();
    }
    Lexer lexer(body, bodySize, header.binary, header.floatSize);
    FileParser parser(lexer, templates, document);
    return parser.Run();
}

}  // namespace qm::xof
