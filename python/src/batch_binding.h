// The reports and the extraction of cfdump, run in-process: the Dask layer
// and contentfile.report() give what `cfdump --json` and `cfdump extract`
// give, by the same code.

#ifndef CONTENTFILE_PYTHON_SRC_BATCH_BINDING_H_
#define CONTENTFILE_PYTHON_SRC_BATCH_BINDING_H_

#include <pybind11/pybind11.h>

namespace contentfile_python {

void RegisterBatch(pybind11::module_& module);

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_BATCH_BINDING_H_
