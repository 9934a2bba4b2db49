// lyx.Data_Type and lyx.Response_Type: the type library's enumerations as
// enum.IntEnum, their constants also at module level (lyx.DT_FLOAT), as
// automation clients see them.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

namespace lyx::python {

namespace py = pybind11;

void bindEnums(py::module_ &m);

// A request's result as lyx.Response_Type, or as a plain int when it is none of
// its constants.
py::object responseType(std::int32_t value);

}  // namespace lyx::python
