#include "gui/kit/Termination.h"

#include <atomic>

namespace pemra {

namespace {

std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

}  // namespace

bool TerminationRequested() { return signalsSeen.load() > 0; }

int NoteTerminationSignal() { return signalsSeen.fetch_add(1); }

void ResetTermination() { signalsSeen = 0; }

}  // namespace pemra
