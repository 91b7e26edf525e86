// Values kept per thread. Only a pointer is thread_local: with mingw's
// emulated thread-local storage, a thread_local object with a destructor can
// have its storage freed before the destructor runs at thread exit, which
// corrupts the heap of the caller's process. The values themselves are owned
// by a list in a Win32 TLS slot and destroyed by EndThreadValues.
#pragma once

namespace tamberlux {

namespace detail {
void KeepForThread(void* value, void (*destroy)(void*));
}

// The value behind `slot` (a thread_local pointer of the caller's own), made
// on the thread's first use.
template <class T>
T& ThreadOwned(T*& slot) {
  if (!slot) {
    slot = new T();
    detail::KeepForThread(slot, [](void* v) { delete static_cast<T*>(v); });
  }
  return *slot;
}

// Destroys every value made on the calling thread, newest first; its
// thread_local pointers must not be used afterwards. Called as the thread
// leaves the component's DLL.
void EndThreadValues();

// The same for the calling thread, and gives the TLS slot back; for the DLL
// being unloaded (other threads' values cannot be reached then).
void EndProcessValues();

}  // namespace tamberlux
