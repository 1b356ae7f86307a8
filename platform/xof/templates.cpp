// templates.cpp: primitive type table, child rules and the template store.
#include "platform/xof/templates.h"

namespace qm::xof {
namespace {

struct PrimitiveInfo {
    const char* name;
    Primitive primitive;
    unsigned size;
    bool integer;
};
constexpr PrimitiveInfo kPrimitives[] = {
    {"WORD", Primitive::Word, 2, true},     {"DWORD", Primitive::Dword, 4, true},
    {"FLOAT", Primitive::Float, 4, false},  {"DOUBLE", Primitive::Double, 8, false},
    {"CHAR", Primitive::Char, 1, true},     {"UCHAR", Primitive::Uchar, 1, true},
    {"BYTE", Primitive::Byte, 1, true},     {"STRING", Primitive::String, 4, false},
    {"SWORD", Primitive::Sword, 2, true},   {"SDWORD", Primitive::Sdword, 4, true},
    {"CSTRING", Primitive::String, 4, false}, {"UNICODE", Primitive::String, 4, false},
    {"LPSTR", Primitive::String, 4, false},
};

const PrimitiveInfo* Info(Primitive p) {
    for (const PrimitiveInfo& info : kPrimitives)
        if (info.primitive == p) return &info;
    return nullptr;
}

}  // namespace

unsigned PrimitiveSize(Primitive p) {
    const PrimitiveInfo* info = Info(p);
    return info ? info->size : 0;
}

bool PrimitiveIsInteger(Primitive p) {
    const PrimitiveInfo* info = Info(p);
    return info && info->integer;
}

Primitive PrimitiveFromName(std::string_view name) {
    for (const PrimitiveInfo& info : kPrimitives)
        if (name == info.name) return info.primitive;
    return Primitive::None;
}

bool TemplateDef::Allows(const TemplateDef& child) const {
    switch (openness) {
        case Openness::Open: return true;
        case Openness::Closed: return false;
        case Openness::Restricted:
            for (const Restriction& r : allowed) {
                if (r.hasGuid ? r.guid == child.guid : r.name == child.name) return true;
            }
            return false;
    }
    return false;
}

std::shared_ptr<const TemplateDef> TemplateStore::Find(std::string_view name) const {
    auto it = byName_.find(std::string(name));
    return it == byName_.end() ? nullptr : it->second;
}

void TemplateStore::Add(std::shared_ptr<const TemplateDef> def) {
    std::string key = def->name;
    byName_[std::move(key)] = std::move(def);
}

void TemplateStore::Merge(const TemplateStore& other) {
    for (const auto& [name, def] : other.byName_) byName_[name] = def;
}

}  // namespace qm::xof
