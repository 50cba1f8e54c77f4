// Small holders that close a Win32 handle when they go out of scope, so that
// every early return of the print-system and system-utility code releases
// what it opened. Each holder owns at most one handle; release() hands it
// back to the caller without closing it.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

template <class H, class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    // Closing on the way out keeps the last error of the call that failed,
    // which the caller formats into its message.
    ~UniqueHandle() {
        if (!Traits::valid(h_)) return;
        DWORD error = GetLastError();
        reset();
        SetLastError(error);
    }

    H get() const { return h_; }
    // Address for an out-parameter; closes whatever was held first.
    H* put() {
        reset();
        return &h_;
    }
    explicit operator bool() const { return Traits::valid(h_); }
    H release() {
        H h = h_;
        h_ = Traits::none();
        return h;
    }
    // Closes the handle now; returns the close function's success.
    bool reset() {
        bool ok = true;
        if (Traits::valid(h_)) ok = Traits::close(h_);
        h_ = Traits::none();
        return ok;
    }

private:
    H h_ = Traits::none();
};

struct RegKeyTraits {
    static HKEY none() { return nullptr; }
    static bool valid(HKEY h) { return h != nullptr; }
    static bool close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
struct ScHandleTraits {
    static SC_HANDLE none() { return nullptr; }
    static bool valid(SC_HANDLE h) { return h != nullptr; }
    static bool close(SC_HANDLE h) { return CloseServiceHandle(h) != FALSE; }
};
struct KernelHandleTraits {
    static HANDLE none() { return nullptr; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
struct FindHandleTraits {
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return FindClose(h) != FALSE; }
};

using ScopedKey = UniqueHandle<HKEY, RegKeyTraits>;
using ScopedService = UniqueHandle<SC_HANDLE, ScHandleTraits>;
using ScopedHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using ScopedFind = UniqueHandle<HANDLE, FindHandleTraits>;

#include <cstdlib>
#include <memory>

// A block from the C allocator, released with free().
struct CFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using CBlock = std::unique_ptr<T, CFreeDeleter>;

// A block from LocalAlloc, released with LocalFree().
struct LocalFreeDeleter {
    void operator()(void* p) const {
        if (p) LocalFree((HLOCAL)p);
    }
};
template <class T>
using LocalBlock = std::unique_ptr<T, LocalFreeDeleter>;
