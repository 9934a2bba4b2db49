// The count of the component's live objects and server locks, for
// DllCanUnloadNow.
#pragma once

namespace lyx::dataprovider {

// Counts itself as one live object for as long as it exists.
class LiveObject {
  public:
    LiveObject();
    ~LiveObject();
    LiveObject(const LiveObject &) = delete;
    LiveObject &operator=(const LiveObject &) = delete;
};

void lockServer(bool lock);
// True when no object lives and no lock is held.
bool canUnloadNow();

}  // namespace lyx::dataprovider
