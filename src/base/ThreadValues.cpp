#include "base/ThreadValues.h"

#include <windows.h>

namespace tamberlux {
namespace {

struct Kept {
  void* value;
  void (*destroy)(void*);
  Kept* next;
};

DWORD Slot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

}  // namespace

void detail::KeepForThread(void* value, void (*destroy)(void*)) {
  TlsSetValue(Slot(), new Kept{value, destroy, static_cast<Kept*>(TlsGetValue(Slot()))});
}

void EndThreadValues() {
  auto* kept = static_cast<Kept*>(TlsGetValue(Slot()));
  TlsSetValue(Slot(), nullptr);
  while (kept) {
    Kept* next = kept->next;
    kept->destroy(kept->value);
    delete kept;
    kept = next;
  }
}

void EndProcessValues() {
  EndThreadValues();
  TlsFree(Slot());
}

}  // namespace tamberlux
