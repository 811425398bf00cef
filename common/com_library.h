#pragma once

#include <windows.h>
#include <oleauto.h>

// COM's libraries (ole32, oleaut32) are loaded from System32 the first time something needs
// them, not at start, and kept for the process: the proxies of the shell's objects live in
// them. Kalnix runs elevated, so they are never looked for anywhere else.
struct ComFunctions {
    decltype(&::CoInitializeEx) initialize;
    decltype(&::CoUninitialize) uninitialize;
    decltype(&::CoCreateInstance) createInstance;
    decltype(&::SysAllocString) allocateString;
    decltype(&::SysFreeString) freeString;
    decltype(&::CoSetProxyBlanket) setProxyBlanket;
    decltype(&::VariantClear) clearVariant;
};

// The table, resolved at the first call; every entry null when a library or function is missing.
const ComFunctions& Com();

// One reference to a COM object, released when the scope ends.
template <class Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (object_) object_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* operator->() const { return object_; }
    Interface* get() const { return object_; }
    Interface** put() { return &object_; }
    void** putVoid() { return reinterpret_cast<void**>(&object_); }

private:
    Interface* object_ = nullptr;
};

// COM on this thread for the scope; declared before the objects, so it ends after them.
class ComScope {
public:
    explicit ComScope(const ComFunctions& com, DWORD apartment = COINIT_APARTMENTTHREADED)
        : com_(com), result_(com.initialize(nullptr, apartment)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) com_.uninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // RPC_E_CHANGED_MODE: the thread is in the other apartment already, which serves too.
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    const ComFunctions& com_;
    HRESULT result_;
};

// A string allocated for COM, freed when the scope ends; null when it could not be allocated.
class ComString {
public:
    ComString(const ComFunctions& com, const wchar_t* text) : com_(com), text_(com.allocateString(text)) {}
    ~ComString() { com_.freeString(text_); }
    ComString(const ComString&) = delete;
    ComString& operator=(const ComString&) = delete;
    BSTR get() const { return text_; }

private:
    const ComFunctions& com_;
    BSTR text_;
};
