// debug_output.cpp: the table of loaded modules' entry points behind GetModuleHandleA and GetProcAddress.
#include "platform/win/debug_output.h"

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Module {
    std::string name;  // lower case
    std::map<std::string, FARPROC> entries;
};

struct ModuleTable {
    std::mutex mutex;
    std::deque<Module> modules;  // a deque keeps every module's address, which is its handle
};

ModuleTable& Modules() {
    static ModuleTable table;
    return table;
}

std::string Lower(LPCSTR text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Module* FindModule(ModuleTable& table, const std::string& name) {
    for (Module& module : table.modules)
        if (module.name == name) return &module;
    return nullptr;
}

HMODULE HandleOf(Module* module) { return reinterpret_cast<HMODULE>(module); }

}  // namespace

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr) return nullptr;
    ModuleTable& table = Modules();
    std::lock_guard lock(table.mutex);
    Module* module = FindModule(table, Lower(moduleName));
    return module != nullptr && !module->entries.empty() ? HandleOf(module) : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) return nullptr;
    ModuleTable& table = Modules();
    std::lock_guard lock(table.mutex);
    for (Module& known : table.modules) {
        if (HandleOf(&known) != module) continue;
        auto it = known.entries.find(procName);
        return it == known.entries.end() ? nullptr : it->second;
    }
    return nullptr;
}

void RegisterModuleEntry(LPCSTR moduleName, LPCSTR procName, FARPROC proc) {
    if (moduleName == nullptr || procName == nullptr) return;
    ModuleTable& table = Modules();
    std::lock_guard lock(table.mutex);
    std::string name = Lower(moduleName);
    Module* module = FindModule(table, name);
    if (module == nullptr) {
        if (proc == nullptr) return;
        module = &table.modules.emplace_back(Module{name, {}});
    }
    if (proc == nullptr)
        module->entries.erase(procName);
    else
        module->entries[procName] = proc;
}
