#include "live_objects.hpp"

#include <atomic>

namespace lyx::dataprovider {
namespace {
std::atomic<int> liveObjects{0};
std::atomic<int> serverLocks{0};
}  // namespace

LiveObject::LiveObject() {
    ++liveObjects;
}

LiveObject::~LiveObject() {
    --liveObjects;
}

void lockServer(bool lock) {
    if (lock) {
        ++serverLocks;
    } else if (serverLocks > 0) {
        --serverLocks;
    }
}

bool canUnloadNow() {
    return liveObjects == 0 && serverLocks == 0;
}

}  // namespace lyx::dataprovider
