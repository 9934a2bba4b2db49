// lyx.DataProvider: one DataProvider component object, created through the
// platform's activation, with its PacketArrived event turned into on_packet()
// callbacks and packets() iterators.
//
// Threads: the object belongs to the Python thread that created it, as the
// component's objects belong to theirs; every call from another thread raises
// AutomationError 0x8001010E. Its frames arrive while that thread pumps
// (pump(), packets(), and every member that waits for the base station). An
// object whose last reference goes on another thread hands its component to
// its own thread, which releases it (closing the link) when it next pumps.
//
// The garbage collector sees the on_packet() callback, so an object whose
// callback refers to the object itself (a bound method, a lambda) is collected
// like any other cycle; close() drops the callback.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/platform/unknown.hpp"
#include "packet.hpp"
#include "pump.hpp"

namespace lyx::python {

namespace py = pybind11;

// The packets waiting for one packets() iterator. Bounded: past kLimit the
// oldest goes and is counted.
struct PacketQueue {
    static constexpr std::size_t kLimit = 100000;
    std::deque<py::object> items;
    std::size_t dropped = 0;

    void push(const py::object &packet);
};

// Where one object's PacketArrived events go: the on_packet() callback and the
// queues of its packets() iterators. Changed with the GIL held (on the owner
// thread, or by the object's end on any thread); listening() alone is read
// without it. Its callback is dropped before the last reference to it can go
// without the GIL.
class PacketHub {
  public:
    explicit PacketHub(std::thread::id owner) : owner_(owner) {}

    std::thread::id owner() const { return owner_; }
    bool closed() const { return closed_; }
    // No more packets: the callback is dropped and listening() is false.
    void markClosed();

    void setCallback(py::object callback);
    py::object callback() const { return callback_ ? callback_ : py::none(); }
    // For the garbage collector's traversal (nullptr: none).
    PyObject *callbackObject() const { return callback_.ptr(); }
    void attach(PacketQueue *queue);
    void detach(PacketQueue *queue);
    // Whether anyone takes packets; read without the GIL, on the owner thread.
    bool listening() const { return listening_.load(std::memory_order_acquire); }
    // Hands `packet` to the queues and the callback; reports a callback's error
    // (pump.hpp) and never throws.
    void deliver(Packet packet);

  private:
    void updateListening();

    std::thread::id owner_;
    bool closed_ = false;
    py::object callback_;
    std::vector<PacketQueue *> queues_;
    std::atomic<bool> listening_{false};
};

class EventSink;

class DataProviderObject {
  public:
    // Creates the component by its class identifier; raises AutomationError
    // (0x80040154 with the way to register it, when it is not registered).
    DataProviderObject();
    ~DataProviderObject();
    DataProviderObject(const DataProviderObject &) = delete;
    DataProviderObject &operator=(const DataProviderObject &) = delete;

    // The component, for one call: raises on a thread other than the owner and
    // on a closed object. The reference keeps the component alive for the call,
    // even when a callback closes the object meanwhile.
    platform::Ref<dataprovider::IDataProvider> use() const;
    void checkThread() const;
    bool closed() const { return !dp_; }
    // Disconnects the events and releases the component, which closes its link
    // and deletes its private driver copy; drops the callback. Does nothing
    // when closed.
    void close(bool releaseGil = true);
    const std::shared_ptr<PacketHub> &hub() const { return hub_; }
    // Whether Initialise ran since the last Terminate: the with block ends with
    // Terminate only then (it has nothing to close otherwise, and waits a second).
    bool linkOpened() const { return linkOpened_; }
    void setLinkOpened(bool opened) { linkOpened_ = opened; }
    // A RuntimeWarning when an object of another thread has a link open: the
    // component numbers its objects per thread, so the first object of each
    // thread drives the same loaded driver, and this Initialise would close the
    // other thread's link.
    void warnOfOtherThreadsLinks() const;

  private:
    // Hands the component to the owner thread's release window; false when
    // that thread is gone.
    bool releaseOnOwnerThread();

    std::shared_ptr<PacketHub> hub_;
    bool linkOpened_ = false;
    platform::Ref<dataprovider::IDataProvider> dp_;
    platform::Ref<EventSink> sink_;
    std::uint32_t cookie_ = 0;
    // On the owner thread: releases a component handed over by another thread.
    platform::WindowHandle releaseWindow_ = 0;
};

// A packets() iterator: the packets of its object that arrive while it lives,
// until `timeout` seconds from its creation have passed (None: without end) or
// the object is closed. It pumps the thread while it waits.
class PacketIterator {
  public:
    using Clock = std::chrono::steady_clock;

    PacketIterator(std::shared_ptr<PacketHub> hub, std::optional<double> timeout);
    ~PacketIterator();
    PacketIterator(const PacketIterator &) = delete;
    PacketIterator &operator=(const PacketIterator &) = delete;

    py::object next();
    // Ends the iteration: no more packets are taken.
    void close();
    std::size_t dropped() const { return queue_.dropped; }

  private:
    std::shared_ptr<PacketHub> hub_;
    PacketQueue queue_;
    std::optional<Clock::time_point> deadline_;
    bool attached_ = true;
};

using DataProviderClass = py::class_<DataProviderObject>;

// lyx.DataProvider with its Python side (close, with, on_packet, pump, packets)
// and lyx.Packets.
DataProviderClass bindDataProvider(py::module_ &m);
// The members of the default interface _DataProvider (data_provider_members.cpp).
void bindInterfaceMembers(py::module_ &m, DataProviderClass &cls);

// Runs `f(component)` for one member: with the GIL released when the member may
// wait (for the base station, or dispatching messages), then raises what a
// callback left pending (pump.hpp).
enum class Wait : bool { No, Yes };

template <class F>
auto callMember(DataProviderObject &self, Wait wait, F &&f) {
    platform::Ref<dataprovider::IDataProvider> dp = self.use();
    using Result = decltype(f(*dp));
    if constexpr (std::is_void_v<Result>) {
        if (wait == Wait::Yes) {
            py::gil_scoped_release nogil;
            f(*dp);
        } else {
            f(*dp);
        }
        dp.reset();
        raisePendingInterrupt();
    } else {
        std::optional<Result> result;
        if (wait == Wait::Yes) {
            py::gil_scoped_release nogil;
            result.emplace(f(*dp));
        } else {
            result.emplace(f(*dp));
        }
        dp.reset();
        raisePendingInterrupt();
        return std::move(*result);
    }
}

}  // namespace lyx::python
