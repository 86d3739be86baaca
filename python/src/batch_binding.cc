#include "python/src/batch_binding.h"

#include <pybind11/stl.h>

#include <exception>
#include <string>
#include <vector>

#include "python/src/json_objects.h"
#include "tools/cfdump/capture.h"
#include "tools/cfdump/extract.h"
#include "tools/cfdump/input_list.h"
#include "tools/cfdump/json_report.h"

namespace py = pybind11;

namespace contentfile_python {
namespace {

std::string FailedReport(const std::string& path, const std::string& error) {
  cfdump::CaptureReport report;
  report.path = path;
  report.status = cfdump::Status::kFailed;
  report.error = error;
  return cfdump::FormatJsonReport(report);
}

// The JSON report of one capture, extracted into `folder` when it is not
// empty; an unexpected error fails this capture alone, as in cfdump.
std::string Report(const std::string& path, const std::string& folder,
                   bool force) {
  try {
    cfdump::Capture capture(path);
    if (!folder.empty()) cfdump::ExtractCapture(&capture, folder, force);
    return cfdump::FormatJsonReport(capture.report());
  } catch (const std::exception& e) {
    return FailedReport(path, std::string("unexpected error: ") + e.what());
  }
}

py::list ReportMany(const std::vector<std::string>& paths,
                    const std::vector<std::string>& folders, bool force) {
  std::vector<std::string> reports;
  {
    py::gil_scoped_release release;
    reports.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
      reports.push_back(Report(
          paths[i], folders.empty() ? std::string() : folders[i], force));
    }
  }
  JsonObjects objects;
  py::list out;
  for (const std::string& report : reports) {
    out.append(objects.Decode(report));
  }
  return out;
}

}  // namespace

void RegisterBatch(py::module_& module) {
  module.def(
      "decode_json",
      [](const std::string& text) { return JsonObjects().Decode(text); },
      py::arg("text"), "JSON text to the objects json.loads gives.");
  module.def(
      "report",
      [](const std::string& path) {
        std::string report;
        {
          py::gil_scoped_release release;
          report = Report(path, std::string(), false);
        }
        return JsonObjects().Decode(report);
      },
      py::arg("path"),
      "The report of one capture: the objects of the JSON that cfdump "
      "--json writes for it.");
  module.def(
      "reports",
      [](const std::vector<std::string>& paths) {
        return ReportMany(paths, {}, false);
      },
      py::arg("paths"),
      "The report of each capture: the objects of the JSON that cfdump "
      "--json writes for it.");
  module.def(
      "extract_reports",
      [](const std::vector<std::string>& paths,
         const std::vector<std::string>& folders, bool force) {
        if (folders.size() != paths.size()) {
          throw py::value_error("one folder per capture is needed");
        }
        for (const std::string& folder : folders) {
          if (folder.empty()) throw py::value_error("an empty folder name");
        }
        return ReportMany(paths, folders, force);
      },
      py::arg("paths"), py::arg("folders"), py::arg("force"),
      "Extracts each capture into its folder (planned by plan_folders) and "
      "gives its report.");
  module.def(
      "failed_report",
      [](const std::string& path, const std::string& error) {
        return JsonObjects().Decode(FailedReport(path, error));
      },
      py::arg("path"), py::arg("error"),
      "The report of an input that could not be listed.");
  module.def(
      "list_inputs",
      [](const std::vector<std::string>& paths, const std::string& skip) {
        std::vector<cfdump::Input> inputs;
        {
          py::gil_scoped_release release;
          inputs = cfdump::ListInputs(paths, skip);
        }
        py::list out;
        for (const cfdump::Input& input : inputs) {
          out.append(
              py::make_tuple(py::bytes(input.path), py::bytes(input.error)));
        }
        return out;
      },
      py::arg("paths"), py::arg("skip"),
      "Files as given and folders walked, as cfdump lists its inputs: "
      "(path, error) pairs.");
  module.def(
      "prepare_extract_dir",
      [](const std::string& dir) {
        std::string error;
        bool ok;
        {
          py::gil_scoped_release release;
          ok = cfdump::PrepareExtractDir(dir, &error);
        }
        return ok ? py::bytes() : py::bytes(error);
      },
      py::arg("dir"),
      "Creates the extraction folder; gives b'' or why it cannot be used.");
  module.def(
      "plan_folders",
      [](const std::vector<std::string>& paths, const std::string& dir,
         bool force) {
        std::vector<cfdump::Input> inputs;
        inputs.reserve(paths.size());
        for (const std::string& path : paths) inputs.push_back({path, {}});
        std::vector<std::string> folders;
        {
          py::gil_scoped_release release;
          folders = cfdump::PlanCaptureFolders(inputs, dir, force);
        }
        py::list out;
        for (const std::string& folder : folders) {
          out.append(py::bytes(folder));
        }
        return out;
      },
      py::arg("paths"), py::arg("dir"), py::arg("force"),
      "The folder under dir of each capture, named as cfdump extract names "
      "it.");
}

}  // namespace contentfile_python
