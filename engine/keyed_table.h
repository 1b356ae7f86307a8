// keyed_table.h: the engine's ordered tables from script-chosen signed 32-bit keys to values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "platform/win/unknown.h"

namespace qm {

// What module unload does with a value: forget it without releasing what it refers to.
template <class V>
void AbandonValue(V&) {}
template <class T>
void AbandonValue(ComPtr<T>& value) { value.Detach(); }
template <class T, class D>
void AbandonValue(std::unique_ptr<T, D>& value) { value.release(); }

// Keys are unique, any value is a key, entries are visited in ascending signed order, and a lookup
// never creates an entry. Destroying the table (module unload) discards the entries without
// releasing the objects they hold.
template <class V>
class KeyedTable {
public:
    KeyedTable() = default;
    KeyedTable(const KeyedTable&) = delete;
    KeyedTable& operator=(const KeyedTable&) = delete;
    ~KeyedTable() { Abandon(); }

    V* Find(std::int32_t key) {
        auto it = entries_.find(key);
        return it == entries_.end() ? nullptr : &it->second;
    }
    const V* Find(std::int32_t key) const {
        auto it = entries_.find(key);
        return it == entries_.end() ? nullptr : &it->second;
    }
    // Adds the entry when the key is absent; an existing entry is left untouched. Returns the entry
    // that holds the key afterwards and whether it was added.
    std::pair<V*, bool> InsertIfAbsent(std::int32_t key, V value) {
        auto [it, added] = entries_.try_emplace(key, std::move(value));
        return {&it->second, added};
    }
    // Removes the entry under key, destroying its value; absent keys are ignored.
    void Erase(std::int32_t key) { entries_.erase(key); }
    // Removes every entry, destroying the values in ascending key order.
    void Clear() {
        while (!entries_.empty()) entries_.erase(entries_.begin());
    }
    // Calls f(key, value) for every entry in ascending key order.
    template <class F>
    void ForEach(F&& f) {
        for (auto& [key, value] : entries_) f(key, value);
    }
    std::size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }

    // Forgets every entry without releasing the objects the values refer to.
    void Abandon() {
        for (auto& entry : entries_) AbandonValue(entry.second);
        entries_.clear();
    }

private:
    std::map<std::int32_t, V> entries_;
};

}  // namespace qm
