// Events: a client connects an event sink to an object and gets a cookie back;
// the object raises its events synchronously, on the thread that raises them,
// to every connected sink.
//
// A sink implements the event interface as a C++ interface (typed calls), or
// Dispatch (late-bound calls by dispatch identifier with by-reference
// arguments).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/dispatch.hpp"
#include "lyx/platform/unknown.hpp"

namespace lyx::platform {

class EventSource : public Unknown {
  public:
    static constexpr Guid iid = guid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
    using Base = Unknown;

    // Connects `sink` to the event interface `events`; the object keeps a
    // reference until unadvise. Raises kCannotConnect when the object has no
    // such events or the sink implements neither form.
    virtual std::uint32_t advise(const Guid &events, Unknown &sink) = 0;
    // Raises kNoConnection for a cookie that is not connected.
    virtual void unadvise(const Guid &events, std::uint32_t cookie) = 0;

  protected:
    ~EventSource() = default;
};

// The sinks connected to one event interface `Events` of an object.
template <class Events>
class ConnectionPoint {
  public:
    struct Sink {
        std::uint32_t cookie = 0;
        Ref<Events> typed;   // set when the sink implements Events
        Ref<Dispatch> late;  // else this
    };

    std::uint32_t advise(Unknown &sink) {
        Ref<Unknown> holder(&sink);
        Sink entry;
        entry.typed = holder.template query<Events>();
        if (!entry.typed) entry.late = holder.template query<Dispatch>();
        if (!entry.typed && !entry.late)
            throw AutomationError(errors::kCannotConnect,
                                  "The sink implements neither the event interface nor Dispatch");
        const std::uint32_t cookie = ++lastCookie_;
        entry.cookie = cookie;
        sinks_.push_back(std::move(entry));
        return cookie;
    }

    void unadvise(std::uint32_t cookie) {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->cookie == cookie) {
                sinks_.erase(it);
                return;
            }
        }
        throw AutomationError(errors::kNoConnection,
                              "No connection with cookie " + std::to_string(cookie));
    }

    // A copy of the connections, to raise an event from: a sink may connect or
    // disconnect while it handles the event.
    std::vector<Sink> sinks() const { return sinks_; }
    bool empty() const { return sinks_.empty(); }

  private:
    std::vector<Sink> sinks_;
    std::uint32_t lastCookie_ = 0;
};

}  // namespace lyx::platform
