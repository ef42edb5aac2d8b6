// One move-only owner for every COM interface pointer, and the COM apartment of a piece of work.
// A pointer is released exactly once whatever return or error leaves the scope that holds it.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace orv {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller owns (as an out-parameter hands it over).
    explicit ComPtr(T* owned) noexcept : p_(owned) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { Reset(); }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases the held reference and takes `owned` over.
    void Reset(T* owned = nullptr) noexcept {
        T* old = std::exchange(p_, owned);
        if (old) old->Release();
    }
    // Gives the reference up without releasing it.
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    // For APIs that return an interface through T**.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    // For APIs that return an interface through void** (QueryInterface, CoCreateInstance).
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

private:
    T* p_ = nullptr;
};

// One owned BSTR, freed exactly once.
class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(const wchar_t* text) : p_(::SysAllocString(text)) {}
    Bstr(Bstr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            ::SysFreeString(p_);
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(p_); }

    BSTR Get() const noexcept { return p_; }
    // For APIs that return a string through BSTR*.
    BSTR* Put() noexcept {
        ::SysFreeString(std::exchange(p_, nullptr));
        return &p_;
    }
    // Gives the string up without freeing it (a result handed to a caller).
    BSTR Detach() noexcept { return std::exchange(p_, nullptr); }
    std::wstring Text() const { return p_ ? std::wstring(p_, ::SysStringLen(p_)) : std::wstring(); }

private:
    BSTR p_ = nullptr;
};

// Joins the calling thread to a single-threaded apartment for the scope's lifetime. A thread that
// already has an apartment keeps it (of either kind); the scope then only balances its own call.
class ComApartment {
public:
    ComApartment() noexcept : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // False when the thread has no apartment COM can be used in (out of memory and the like); a
    // thread already in the multi-threaded apartment counts as usable.
    bool Usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT Result() const noexcept { return result_; }

private:
    HRESULT result_;
};

}  // namespace orv
