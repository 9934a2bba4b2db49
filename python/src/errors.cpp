#include "errors.hpp"

#include <pybind11/eval.h>

#include "lyx/platform/automation_error.hpp"

namespace lyx::python {

namespace {

// The class, made once when the module is imported and kept for the life of the process.
PyObject *automationErrorClass = nullptr;

constexpr const char *kClassSource = R"py(
class AutomationError(Exception):
    """An automation error raised by the DataProvider component or the platform.

    number       the error number (HRESULT) as an unsigned 32-bit number,
                 e.g. 0x800403EB for a data type that is not accepted
    description  the error's text, e.g. "Invalid DataType! ..."

    Driver results (Response_Type, open results) are returned, never raised.
    """

    def __init__(self, number, description=""):
        super().__init__(int(number) & 0xFFFFFFFF, str(description))

    @property
    def number(self):
        return self.args[0]

    @property
    def description(self):
        return self.args[1]

    def __str__(self):
        return f"{self.description} (automation error 0x{self.number:08X})"
)py";

void setAutomationError(std::int32_t number, const std::string &description) {
    py::object text = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
        description.data(), static_cast<Py_ssize_t>(description.size()), "replace"));
    if (!text) return;  // the decoding error stays set
    py::tuple args = py::make_tuple(static_cast<std::uint32_t>(number), text);
    PyErr_SetObject(automationErrorClass, args.ptr());
}

}  // namespace

void throwAutomationError(std::int32_t number, const std::string &description) {
    setAutomationError(number, description);
    throw py::error_already_set();
}

void bindErrors(py::module_ &m) {
    py::dict scope;
    scope["__name__"] = "lyx";
    scope["__builtins__"] = py::module_::import("builtins");
    py::exec(kClassSource, scope);
    py::object cls = scope["AutomationError"];
    cls.attr("__module__") = "lyx";
    m.attr("AutomationError") = cls;
    automationErrorClass = cls.release().ptr();  // kept for good

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const platform::AutomationError &e) {
            setAutomationError(e.number(), e.description());
        }
    });
}

}  // namespace lyx::python
