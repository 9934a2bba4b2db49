#include "pump.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <pybind11/stl.h>

#include "LyxPlatform.h"

namespace lyx::python {

namespace {

using Clock = std::chrono::steady_clock;

// The longest single wait, so that a signal that comes just before poll() starts
// is still seen soon.
constexpr int kSliceMs = 250;

// An error kept for its thread: owned references to type, value and traceback.
struct Kept {
    PyObject *type = nullptr;
    PyObject *value = nullptr;
    PyObject *traceback = nullptr;
};

// Touched only with the GIL held; never destroyed, so that nothing of it runs
// after the interpreter has gone.
std::unordered_map<std::thread::id, Kept> &kept() {
    static auto *map = new std::unordered_map<std::thread::id, Kept>();
    return *map;
}

}  // namespace

std::optional<double> timeoutSeconds(const std::optional<double> &timeout) {
    if (timeout && (std::isnan(*timeout) || *timeout < 0))
        throw py::value_error("timeout must be None or a number of seconds not below 0");
    return timeout;
}

int pumpMessages(std::optional<double> timeout) {
    timeoutSeconds(timeout);
    const int fd = LyxMessageFd();
    if (fd < 0) throw std::runtime_error("the message queue of this thread cannot be made");
    std::optional<Clock::time_point> deadline;
    if (timeout) {
        // Beyond a year is the same as without limit, and stays inside the clock's range.
        const double seconds = std::min(*timeout, 365.0 * 24 * 3600);
        deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
    }
    for (;;) {
        int waitMs = kSliceMs;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 0, kSliceMs));
        }
        int ready = 0;
        int error = 0;
        {
            py::gil_scoped_release nogil;
            pollfd entry{fd, POLLIN, 0};
            ready = ::poll(&entry, 1, waitMs);
            error = errno;
        }
        if (ready < 0 && error != EINTR)
            throw std::system_error(error, std::generic_category(), "poll");
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (ready > 0) {
            int dispatched = 0;
            {
                py::gil_scoped_release nogil;
                dispatched = LyxPumpMessages();
            }
            raisePendingInterrupt();
            if (dispatched > 0) return dispatched;
        }
        if (deadline && Clock::now() >= *deadline) return 0;
    }
}

void callbackFailed(py::error_already_set &error, py::handle callback) {
    if (error.matches(PyExc_Exception)) {
        error.discard_as_unraisable(py::reinterpret_borrow<py::object>(callback));
        return;
    }
    // KeyboardInterrupt, SystemExit and the like: kept for the caller.
    auto &slot = kept()[std::this_thread::get_id()];
    if (slot.type != nullptr) return;  // the first one is raised
    error.restore();
    PyErr_Fetch(&slot.type, &slot.value, &slot.traceback);
}

void raisePendingInterrupt() {
    auto &map = kept();
    if (map.empty()) return;
    auto found = map.find(std::this_thread::get_id());
    if (found == map.end()) return;
    Kept error = found->second;
    map.erase(found);
    PyErr_Restore(error.type, error.value, error.traceback);
    throw py::error_already_set();
}

void bindPump(py::module_ &m) {
    m.def(
        "pump", [](std::optional<double> timeout) { return pumpMessages(timeout); },
        py::arg("timeout") = py::none(),
        R"(Dispatches the calling thread's waiting messages: the frames of every DataProvider
created on this thread, whose packets then reach on_packet() callbacks and packets()
iterators.

Waits up to `timeout` seconds (None: without limit) until messages are waiting,
dispatches them and returns how many were dispatched, 0 when the time ran out.
pump(0) dispatches what is waiting without waiting. The GIL is released while it waits.)");
}

}  // namespace lyx::python
