// Kernel handle table shared by files, find handles, processes and tokens.
// CloseHandle closes any of them; each family looks its own kind up.
#pragma once

#include <windows.h>

#include <memory>

namespace winsim {

struct KernelObject {
    virtual ~KernelObject() = default;
    // Called by CloseHandle before the object is dropped; false (with the
    // last error set) refuses the close.
    virtual bool onClose() { return true; }
};

// Registers `obj` and returns its new handle (never null, never -1 or -2).
HANDLE addHandle(std::shared_ptr<KernelObject> obj);
// The object behind `h`, or null when `h` is not open.
std::shared_ptr<KernelObject> findHandle(HANDLE h);
// Typed lookup: null when `h` is not open or is of another kind.
template <class T>
std::shared_ptr<T> findHandleAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(findHandle(h));
}
// Drops `h`; false when it was not open.
bool removeHandle(HANDLE h);
// How many handles are open now (a program that ends holding one leaks it).
std::size_t openHandleCount();

// The pseudo handles of the current process and thread.
inline HANDLE currentProcessHandle() { return (HANDLE)(LONG_PTR)-1; }
inline HANDLE currentThreadHandle() { return (HANDLE)(LONG_PTR)-2; }

}  // namespace winsim
