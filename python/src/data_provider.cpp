#include "data_provider.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <filesystem>

#include <pybind11/stl.h>

#include "LyxPlatform.h"
#include "errors.hpp"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/events.hpp"
#include "pump.hpp"

namespace lyx::python {

using dataprovider::IDataProvider;
using dataprovider::IDataProviderEvents;
namespace fs = std::filesystem;

// --- the event sink ---

class EventSink final : public platform::Implements<IDataProviderEvents> {
  public:
    explicit EventSink(std::shared_ptr<PacketHub> hub) : hub_(std::move(hub)) {}

    // No more events reach the hub. Any thread.
    void detach() {
        std::lock_guard guard(lock_);
        hub_.reset();
    }

    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                       std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                       bool &Error) override {
        // Raised on the owner thread without the GIL, while the object may end
        // on another thread: the hub is held for the call (it has no Python
        // object left once closed, so it may go here without the GIL). No
        // packet is made, and the GIL is not taken, while nobody listens.
        std::shared_ptr<PacketHub> hub;
        {
            std::lock_guard guard(lock_);
            hub = hub_;
        }
        if (!hub || !hub->listening()) return;
        py::gil_scoped_acquire gil;
        if (hub->closed()) return;
        hub->deliver(Packet{BaseStation, DataTag, Value, Status, RSSI, CV, BattLow, Error});
    }

  private:
    std::mutex lock_;
    std::shared_ptr<PacketHub> hub_;
};

namespace {

constexpr std::uint32_t kReleaseMessage = platform::kWmUser + 0x50;

// A component given up on another thread, on its way to its own thread.
struct Handover {
    platform::Ref<IDataProvider> dp;
    platform::Ref<EventSink> sink;
    std::uint32_t cookie = 0;

    // On the owner thread: the events disconnected, the component released.
    void release() {
        if (auto source = dp.query<platform::EventSource>()) {
            try {
                source->unadvise(IDataProviderEvents::iid, cookie);
            } catch (const platform::AutomationError &) {
            }
        }
        sink.reset();
        dp.reset();
    }
};

}  // namespace

// --- queues and the hub ---

void PacketQueue::push(const py::object &packet) {
    if (items.size() >= kLimit) {
        items.pop_front();
        ++dropped;
    }
    items.push_back(packet);
}

void PacketHub::markClosed() {
    closed_ = true;
    callback_ = py::object();
    updateListening();
}

void PacketHub::setCallback(py::object callback) {
    callback_ = std::move(callback);
    updateListening();
}

void PacketHub::attach(PacketQueue *queue) {
    queues_.push_back(queue);
    updateListening();
}

void PacketHub::detach(PacketQueue *queue) {
    queues_.erase(std::remove(queues_.begin(), queues_.end(), queue), queues_.end());
    updateListening();
}

void PacketHub::updateListening() {
    listening_.store(!closed_ && (static_cast<bool>(callback_) || !queues_.empty()),
                     std::memory_order_release);
}

void PacketHub::deliver(Packet packet) {
    try {
        py::object object = py::cast(std::move(packet));
        for (PacketQueue *queue : queues_)
            queue->push(object);
        if (callback_) {
            py::object callback = callback_;  // it may replace itself
            try {
                callback(object);
            } catch (py::error_already_set &error) {
                callbackFailed(error, callback);
            }
        }
    } catch (py::error_already_set &error) {
        callbackFailed(error, py::none());
    } catch (const std::exception &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        PyErr_WriteUnraisable(nullptr);
    }
}

// --- the object ---

namespace {

// The open objects of the process; touched with the GIL held.
std::vector<const DataProviderObject *> &liveObjects() {
    static auto *objects = new std::vector<const DataProviderObject *>();
    return *objects;
}

// How to register the component, from where this process found the platform
// library: the component lies beside it, lyx-regsvr in the bin folder next to
// the library folder (or one level up for a multiarch library folder).
std::string notRegistered(const std::string &platformText) {
    std::string text = "The DataProvider component is not registered (" + platformText + ").";
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&LyxPumpMessages), &info) == 0 ||
        info.dli_fname == nullptr) {
        return text + " Register it with lyx-regsvr and the path of libLyxDataProviderCOM.so.";
    }
    std::error_code ec;
    const fs::path lib = fs::absolute(info.dli_fname, ec).parent_path();
    const fs::path component = lib / "libLyxDataProviderCOM.so";
    for (const fs::path &bin :
         {lib.parent_path() / "bin", lib.parent_path().parent_path() / "bin"}) {
        const fs::path regsvr = bin / "lyx-regsvr";
        if (fs::exists(regsvr, ec) && fs::exists(component, ec))
            return text + " Register it with: " + regsvr.lexically_normal().string() + " " +
                   component.lexically_normal().string();
    }
    return text + " Register it with: lyx-regsvr " + component.lexically_normal().string();
}

}  // namespace

DataProviderObject::DataProviderObject()
    : hub_(std::make_shared<PacketHub>(std::this_thread::get_id())) {
    platform::Ref<IDataProvider> dp;
    try {
        py::gil_scoped_release nogil;
        dp = platform::createInstance<IDataProvider>(dataprovider::kClassId);
    } catch (const platform::AutomationError &error) {
        if (error.number() == platform::errors::kClassNotRegistered)
            throwAutomationError(error.number(), notRegistered(error.description()));
        throw;
    }
    auto source = dp.query<platform::EventSource>();
    if (!source) throw std::runtime_error("the DataProvider object raises no events");
    sink_ = platform::makeObject<EventSink>(hub_);
    cookie_ = source->advise(IDataProviderEvents::iid, *sink_);
    dp_ = std::move(dp);
    releaseWindow_ = platform::createWindow(
        "lyx.DataProvider release",
        [](platform::WindowHandle window, std::uint32_t message, std::uintptr_t,
           std::intptr_t lParam) -> std::intptr_t {
            if (message != kReleaseMessage) return 0;
            std::unique_ptr<Handover>(reinterpret_cast<Handover *>(lParam))->release();
            platform::destroyWindow(window);
            return 0;
        });
    liveObjects().push_back(this);
}

DataProviderObject::~DataProviderObject() {
    if (!dp_) return;
    if (std::this_thread::get_id() != hub_->owner()) {
        // Releasing it here would close another thread's link under its feet
        // (that thread may be dispatching its messages): its own thread
        // releases it when it next pumps.
        auto &live = liveObjects();
        live.erase(std::remove(live.begin(), live.end(), this), live.end());
        hub_->markClosed();
        sink_->detach();
        if (releaseOnOwnerThread()) return;
        (void)dp_.detach();
        py::error_scope keep;
        if (PyErr_WarnEx(PyExc_ResourceWarning,
                         "a lyx.DataProvider was collected on a thread other than its own, "
                         "which has ended; its link stays open",
                         1) != 0) {
            PyErr_WriteUnraisable(nullptr);
        }
        return;
    }
    try {
        close(false);
    } catch (...) {
        // A destructor raises nothing.
    }
}

bool DataProviderObject::releaseOnOwnerThread() {
    if (releaseWindow_ == 0) return false;
    auto handover = std::make_unique<Handover>(Handover{std::move(dp_), std::move(sink_), cookie_});
    if (platform::postMessage(releaseWindow_, kReleaseMessage, 0,
                              reinterpret_cast<std::intptr_t>(handover.get()))) {
        handover.release();  // the window's handler deletes it
        return true;
    }
    dp_ = std::move(handover->dp);
    sink_ = std::move(handover->sink);
    return false;
}

void DataProviderObject::warnOfOtherThreadsLinks() const {
    for (const DataProviderObject *other : liveObjects()) {
        if (other->hub_->owner() == hub_->owner() || !other->linkOpened()) continue;
        if (PyErr_WarnEx(PyExc_RuntimeWarning,
                         "a lyx.DataProvider of another thread has a link open: the first object "
                         "of each thread drives the same driver, so this Initialise closes that "
                         "link; make every DataProvider of a script on one thread",
                         1) != 0) {
            throw py::error_already_set();
        }
        return;
    }
}

void DataProviderObject::checkThread() const {
    if (std::this_thread::get_id() != hub_->owner()) {
        throwAutomationError(static_cast<std::int32_t>(kWrongThread),
                             "This DataProvider belongs to the thread that created it: call it, "
                             "and close it, on that thread only");
    }
}

platform::Ref<IDataProvider> DataProviderObject::use() const {
    checkThread();
    if (!dp_) throw py::value_error("the DataProvider is closed");
    return dp_;
}

void DataProviderObject::close(bool releaseGil) {
    if (!dp_) return;
    checkThread();
    hub_->markClosed();
    auto &live = liveObjects();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    platform::Ref<IDataProvider> dp = std::move(dp_);
    if (auto source = dp.query<platform::EventSource>()) {
        try {
            source->unadvise(IDataProviderEvents::iid, cookie_);
        } catch (const platform::AutomationError &) {
            // Already gone.
        }
    }
    sink_->detach();
    sink_.reset();
    if (releaseWindow_ != 0) platform::destroyWindow(releaseWindow_);
    releaseWindow_ = 0;
    if (releaseGil) {
        py::gil_scoped_release nogil;
        dp.reset();
    } else {
        dp.reset();
    }
}

// --- packets() ---

PacketIterator::PacketIterator(std::shared_ptr<PacketHub> hub, std::optional<double> timeout)
    : hub_(std::move(hub)) {
    if (timeout) {
        const double seconds = std::min(*timeout, 365.0 * 24 * 3600);
        deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    }
    hub_->attach(&queue_);
}

PacketIterator::~PacketIterator() {
    close();
}

// Packets that came with the last hand-over and were not taken yet go too: the
// iteration ends here.
void PacketIterator::close() {
    if (!attached_) return;
    attached_ = false;
    hub_->detach(&queue_);
    queue_.items.clear();
}

py::object PacketIterator::next() {
    if (std::this_thread::get_id() != hub_->owner()) {
        throwAutomationError(static_cast<std::int32_t>(kWrongThread),
                             "This packets() iterator belongs to the thread that created its "
                             "DataProvider");
    }
    for (;;) {
        if (!queue_.items.empty()) {
            py::object packet = std::move(queue_.items.front());
            queue_.items.pop_front();
            return packet;
        }
        if (!attached_ || hub_->closed()) {
            close();
            throw py::stop_iteration();
        }
        std::optional<double> left;
        if (deadline_) {
            const auto now = Clock::now();
            if (now >= *deadline_) {
                close();
                throw py::stop_iteration();
            }
            left = std::chrono::duration<double>(*deadline_ - now).count();
        }
        pumpMessages(left);
    }
}

// --- the Python side ---

namespace {

// The object of a Python instance, or nullptr while it is not made yet.
DataProviderObject *objectOf(PyObject *self) {
    auto *instance = reinterpret_cast<py::detail::instance *>(self);
    auto holder = instance->get_value_and_holder();
    if (!holder.holder_constructed()) return nullptr;
    return holder.value_ptr<DataProviderObject>();
}

// The on_packet() callback is an owned reference the collector must see: a
// callback that refers to its object (a bound method, a lambda using it) makes
// a cycle, which is then collected, closing the object's link.
void letCollectorSeeTheCallback(PyHeapTypeObject *heapType) {
    PyTypeObject *type = &heapType->ht_type;
    type->tp_flags |= Py_TPFLAGS_HAVE_GC;
    type->tp_traverse = [](PyObject *self, visitproc visit, void *arg) -> int {
        Py_VISIT(Py_TYPE(self));  // a heap type's instances own a reference to it
        if (DataProviderObject *object = objectOf(self)) Py_VISIT(object->hub()->callbackObject());
        return 0;
    };
    type->tp_clear = [](PyObject *self) -> int {
        if (DataProviderObject *object = objectOf(self)) object->hub()->setCallback(py::object());
        return 0;
    };
}

}  // namespace

DataProviderClass bindDataProvider(py::module_ &m) {
    py::class_<PacketIterator>(m, "Packets", R"(The iterator that DataProvider.packets() gives.

It yields a Packet for every packet of its DataProvider that arrives while it
lives, dispatching the thread's messages (with the GIL released) while it
waits, and ends when its time is over, when it is closed or when its
DataProvider is closed. At most 100 000 packets wait in it; beyond that the
oldest are dropped and counted in `dropped`.)")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &PacketIterator::next)
        .def("close", &PacketIterator::close, "Ends the iteration.")
        .def_property_readonly("dropped", &PacketIterator::dropped,
                               "Packets dropped because 100 000 were waiting.");

    DataProviderClass cls(m, "DataProvider",
                          R"(The DataProvider component: the link to the base stations.

DataProvider() creates the component through the platform's activation; it must be
registered (lyx-regsvr, or `cmake --install`). Its members are those of the
component's default interface, under their names and in their argument order;
by-reference outputs come back as tuples. Its packets reach on_packet() callbacks
and packets() iterators while this thread dispatches its messages: pump(),
packets(), and the members that wait for the base station do that.

The object belongs to the thread that created it. `with lyx.DataProvider() as dp:`
calls Terminate() (when Initialise() opened a link) and close() on leaving. An object
that is no longer referenced is closed when it is collected, also when its callback
refers to it; collected on another thread, it is closed by its own thread the next
time that thread dispatches messages.)",
                          py::custom_type_setup(letCollectorSeeTheCallback));

    cls.def(py::init<>())
        .def(
            "close", [](DataProviderObject &self) { self.close(); },
            R"(Disconnects the events and releases the component: its link is closed and its
private driver copy deleted. Later calls raise ValueError. Does nothing when closed.)")
        .def_property_readonly("closed", &DataProviderObject::closed,
                               "True once close() ran (or the with block ended).")
        .def("__enter__",
             [](py::object self) {
                 self.cast<DataProviderObject &>().use();
                 return self;
             })
        .def(
            "__exit__",
            [](DataProviderObject &self, py::args) {
                if (self.closed()) return false;
                std::exception_ptr failure;
                try {
                    if (self.linkOpened()) {
                        self.setLinkOpened(false);
                        callMember(self, Wait::Yes, [](IDataProvider &dp) { dp.Terminate(); });
                    }
                } catch (...) {
                    failure = std::current_exception();
                }
                self.close();
                if (failure) std::rethrow_exception(failure);
                return false;
            },
            "Calls Terminate() when Initialise() opened a link, then close().")
        .def(
            "on_packet",
            [](DataProviderObject &self, py::object callback) {
                self.use();
                if (!callback.is_none() && !PyCallable_Check(callback.ptr()))
                    throw py::type_error("on_packet: expected a callable or None");
                self.hub()->setCallback(callback.is_none() ? py::object() : callback);
                return callback;
            },
            py::arg("callback"),
            R"(Calls `callback(packet)` with a Packet for every arriving packet (the
PacketArrived event), replacing the callback given before; None removes it.
Returns `callback`, so that it also serves as a decorator.

The callback runs on this thread while it dispatches messages. An exception it
raises is reported through sys.unraisablehook and later packets are still
delivered; KeyboardInterrupt and SystemExit are raised from the call that was
dispatching (pump(), a packets() iterator, a waiting member).)")
        .def_property_readonly(
            "packet_callback",
            [](DataProviderObject &self) {
                self.checkThread();
                return self.hub()->callback();
            },
            "The callback that on_packet() set, or None.")
        .def(
            "pump",
            [](DataProviderObject &self, std::optional<double> timeout) {
                self.use();
                return pumpMessages(timeout);
            },
            py::arg("timeout") = py::none(),
            R"(Dispatches this thread's waiting messages, as lyx.pump() does: waits up to
`timeout` seconds (None: without limit) until messages are waiting, dispatches them
and returns how many were dispatched, 0 when the time ran out. pump(0) does not
wait. The GIL is released while it waits.)")
        .def(
            "packets",
            [](DataProviderObject &self, std::optional<double> timeout) {
                self.use();
                return std::make_unique<PacketIterator>(self.hub(), timeoutSeconds(timeout));
            },
            py::arg("timeout") = py::none(), py::keep_alive<0, 1>(),
            R"(An iterator over the packets that arrive from now on, for `timeout` seconds
(None: without end), dispatching this thread's messages while it waits:

    for packet in dp.packets(timeout=10):
        print(packet.tag, packet.value)

The on_packet() callback still gets every packet too.)")
        .def(
            "link_statistics",
            [](DataProviderObject &self) {
                auto dp = self.use();
                dataprovider::LinkStatistics s;
                if (auto link = dp.query<dataprovider::ILinkStatistics>())
                    s = link->GetLinkStatistics();
                py::list stations;
                for (int n = 0; n < 32; ++n)
                    if (s.stations & (1u << n)) stations.append(n);
                py::dict d;
                d["frames_delivered"] = s.framesDelivered;
                d["frames_dropped"] = s.framesDropped;
                d["bytes_dropped"] = s.bytesDropped;
                d["bytes_discarded"] = s.bytesDiscarded;
                d["held"] = s.framesHeld;
                d["held_max"] = s.framesHeldMax;
                d["stations"] = stations;
                return d;
            },
            R"(The counters of this object's link since its driver was loaded, as a dict:
frames_delivered (packets and other frames handed to this object), frames_dropped
(lost because too many waited: more than 16 MiB), bytes_dropped (received bytes the
receive ring had no room for), bytes_discarded (received bytes that were not part of a
good frame), held (received, waiting for this thread to dispatch), held_max (the most
that waited at once) and stations (the base-station numbers on the link now).
Nothing is lost while a command runs or the thread is busy for a while: frames wait
and come in order.)")
        .def("__repr__", [](const DataProviderObject &self) {
            return std::string(self.closed() ? "<lyx.DataProvider, closed>" : "<lyx.DataProvider>");
        });
    return cls;
}

}  // namespace lyx::python
