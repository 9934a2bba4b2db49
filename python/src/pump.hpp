// The calling thread's message loop, as Python sees it. Frames reach a
// DataProvider only while the thread that created it dispatches its messages:
// pump() waits for them with the GIL released and dispatches them; the
// callbacks they raise take the GIL back.
//
// A callback's error is reported as Python reports errors in callbacks
// (sys.unraisablehook) and deliveries go on; KeyboardInterrupt and SystemExit
// are kept instead and raised when control comes back from the call that
// dispatched them, so Ctrl-C and sys.exit() in a callback still end a script.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

namespace lyx::python {

namespace py = pybind11;

// Waits up to `timeout` seconds (None: without limit) until messages are
// waiting for the calling thread, dispatches them and returns how many were
// dispatched: 0 when the time ran out. pump(0) dispatches what is waiting
// without waiting. Signals (Ctrl-C) are handled while it waits. GIL held on entry.
int pumpMessages(std::optional<double> timeout);

// The error a callback raised, handled as the header says. GIL held.
void callbackFailed(py::error_already_set &error, py::handle callback);

// Raises the KeyboardInterrupt or SystemExit that a callback of this thread
// raised, if there is one. GIL held.
void raisePendingInterrupt();

// A timeout argument in seconds: None, or a number not below 0.
std::optional<double> timeoutSeconds(const std::optional<double> &timeout);

void bindPump(py::module_ &m);

}  // namespace lyx::python
