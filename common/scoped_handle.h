#pragma once

#include <windows.h>
#include <winsvc.h>

// One owner for a handle: closed when the scope ends, never copied. Where two handles must
// close in an order (a key before its manager, a thread before its device), declare them in
// the opposite order: the later declaration closes first.
template <class Traits>
class Scoped {
public:
    using Handle = typename Traits::Handle;

    explicit Scoped(Handle h = Traits::Invalid()) : h_(h) {}
    ~Scoped() { Reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    Handle get() const { return h_; }
    bool valid() const { return h_ != Traits::Invalid(); }
    // For out-parameters: whatever is held is closed first.
    Handle* put() {
        Reset();
        return &h_;
    }
    // Hands the handle to a longer-lived owner (a process-wide record).
    Handle release() {
        Handle h = h_;
        h_ = Traits::Invalid();
        return h;
    }
    void Reset(Handle h = Traits::Invalid()) {
        if (h_ != Traits::Invalid()) Traits::Close(h_);
        h_ = h;
    }

private:
    Handle h_;
};

// Kernel objects whose failure value is null: events, threads, processes.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
// Files and devices, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseServiceHandle(h); }
};
// Memory the system allocated for the caller with LocalAlloc (descriptors, GUIDs).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { LocalFree(h); }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedFile = Scoped<FileHandleTraits>;
using ScopedKey = Scoped<RegistryKeyTraits>;
using ScopedService = Scoped<ServiceHandleTraits>;
using ScopedLocal = Scoped<LocalMemoryTraits>;
