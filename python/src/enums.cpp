#include "enums.hpp"

#include <utility>
#include <vector>

#include "lyx/dataprovider/data_provider.hpp"

namespace lyx::python {

using namespace lyx::dataprovider;

namespace {

PyObject *responseTypeClass = nullptr;  // kept for good

py::object makeEnum(py::module_ &m, const char *name, const char *doc,
                    const std::vector<std::pair<const char *, std::int32_t>> &constants) {
    py::list members;
    for (const auto &[constant, value] : constants)
        members.append(py::make_tuple(constant, value));
    py::object intEnum = py::module_::import("enum").attr("IntEnum");
    py::object cls = intEnum(name, members, py::arg("module") = "lyx");
    cls.attr("__doc__") = doc;
    m.attr(name) = cls;
    for (const auto &[constant, value] : constants)
        m.attr(constant) = cls.attr(constant);
    return cls;
}

}  // namespace

void bindEnums(py::module_ &m) {
    makeEnum(m, "Data_Type", "Data type codes of Data Provider packets and typed values.",
             {{"DT_NONE", DT_NONE},
              {"DT_UINT8", DT_UINT8},
              {"DT_UINT16", DT_UINT16},
              {"DT_INT32", DT_INT32},
              {"DT_FLOAT", DT_FLOAT},
              {"DT_STRING", DT_STRING},
              {"DT_BINARY", DT_BINARY},
              {"DT_INTERFACE", DT_INTERFACE}});
    py::object rt =
        makeEnum(m, "Response_Type", "Results of requests to the base station and remote devices.",
                 {{"RT_ACK", RT_ACK},
                  {"RT_NOBASE", RT_NOBASE},
                  {"RT_NORESPONSE", RT_NORESPONSE},
                  {"RT_NAK", RT_NAK},
                  {"RT_INVALID_DATA", RT_INVALID_DATA}});
    responseTypeClass = rt.release().ptr();
}

py::object responseType(std::int32_t value) {
    if (value >= RT_ACK && value <= RT_INVALID_DATA)
        return py::reinterpret_borrow<py::object>(responseTypeClass)(value);
    return py::int_(value);
}

}  // namespace lyx::python
