// unknown.h: GUIDs, the reference-counted IUnknown base, the one place objects are created and
// destroyed (RefCounted/MakeRef), and the intrusive pointer that holds references (ComPtr).
#pragma once

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "platform/win/results.h"

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;
using REFGUID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Slot 0 query interface, slot 1 add reference, slot 2 release. Interfaces declare no virtual
// destructor: Release deletes the concrete object. Every interface derived from IUnknown declares
// `static constexpr IID iid`.
struct IUnknown {
    static constexpr IID iid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

template <class T>
class ComPtr;

// Implements the three IUnknown slots for a concrete object exposing the given interfaces.
// Objects start with one reference, handed to the creator by MakeRef.
template <class Derived, class... Interfaces>
class RefCounted : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        void* found = nullptr;
        if (riid == IID_IUnknown) {
            found = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else {
            ((found == nullptr && riid == Interfaces::iid ? (found = static_cast<Interfaces*>(this), true) : false), ...);
        }
        if (found == nullptr) return E_NOINTERFACE;
        AddRef();
        *object = found;
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }
    ULONG RefCount() const { return refs_.load(); }

protected:
    RefCounted() = default;
    ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

private:
    template <class First, class...>
    struct Head {
        using type = First;
    };
    using FirstInterface = typename Head<Interfaces...>::type;

    template <class T, class... A>
    friend ComPtr<T> MakeRef(A&&... args);

    std::atomic<ULONG> refs_{1};
};

// Holds one reference to a reference-counted object.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    ComPtr(ComPtr<U>&& o) noexcept : p_(o.Detach()) {}
    template <class U>
    ComPtr(const ComPtr<U>& o) : p_(o.Get()) {
        if (p_) p_->AddRef();
    }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Adopts a reference the caller already owns.
    static ComPtr Adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // Gives the held reference to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases what is held and returns the address for an out-parameter that receives a reference.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    // Copies out a new reference, as an interface's getter hands one to its caller.
    T* CopyOut() const {
        if (p_) p_->AddRef();
        return p_;
    }

private:
    T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const U* b) { return a.Get() == b; }

// Creates a reference-counted object; the returned pointer holds its first reference.
// Returns null when memory runs out.
template <class T, class... A>
ComPtr<T> MakeRef(A&&... args) {
    T* p = new (std::nothrow) T(std::forward<A>(args)...);
    return ComPtr<T>::Adopt(p);
}
