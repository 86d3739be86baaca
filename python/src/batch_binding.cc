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

// This build of cfdump's reports have neither converted texts nor digests:
// only those options' defaults are taken.
struct ReportSettings {};

ReportSettings Settings(bool utf8, const std::string& digests) {
  if (utf8 || digests != "sha256") {
    throw py::value_error(
        "this build's reports take no UTF-8 or digest options");
  }
  return ReportSettings();
}

std::string FailedReport(const std::string& path, const std::string& error) {
  cfdump::CaptureReport report;
  report.path = path;
  report.status = cfdump::Status::kFailed;
  report.error = error;
  return cfdump::FormatJsonReport(report);
}

// The JSON report of one capture as cfdump's batch makes it, extracted
// into the folder `folder` when it is not empty; an unexpected error fails
// this capture alone.
std::string Report(const std::string& path, const ReportSettings& /*unused*/,
                   const std::string& folder = std::string(),
                   bool force = false) {
  try {
    cfdump::Capture capture(path);
    if (!folder.empty()) cfdump::ExtractCapture(&capture, folder, force);
    return cfdump::FormatJsonReport(capture.report());
  } catch (const std::exception& e) {
    return FailedReport(path, std::string("unexpected error: ") + e.what());
  }
}

std::vector<cfdump::Input> Inputs(const std::vector<std::string>& paths) {
  std::vector<cfdump::Input> inputs;
  inputs.reserve(paths.size());
  for (const std::string& path : paths) inputs.push_back({path, {}});
  return inputs;
}

// Reports and extraction with a decoder that lives as long as the object,
// so that the keys of the reports are made once. REQUIRES: its calls are
// made with the GIL held (the decoder's keys are Python objects).
class Reporter {
 public:
  py::object Report(const std::string& path, bool utf8,
                    const std::string& digests) {
    const ReportSettings settings = Settings(utf8, digests);
    std::string report;
    {
      py::gil_scoped_release release;
      report = contentfile_python::Report(path, settings);
    }
    return objects_.Decode(report);
  }

  py::list Reports(const std::vector<std::string>& paths, bool utf8,
                   const std::string& digests) {
    const ReportSettings settings = Settings(utf8, digests);
    std::vector<std::string> reports;
    {
      py::gil_scoped_release release;
      reports.reserve(paths.size());
      for (const std::string& path : paths) {
        reports.push_back(contentfile_python::Report(path, settings));
      }
    }
    return Decoded(reports);
  }

  py::object FailedReport(const std::string& path, const std::string& error) {
    return objects_.Decode(contentfile_python::FailedReport(path, error));
  }

  py::list ExtractReports(const std::vector<std::string>& paths,
                          const std::vector<std::string>& folders,
                          const std::string& dir, bool force,
                          const std::string& /*folder_ids*/, bool utf8,
                          const std::string& digests) {
    if (folders.size() != paths.size()) {
      throw py::value_error("one folder per capture is needed");
    }
    const ReportSettings settings = Settings(utf8, digests);
    std::vector<std::string> reports;
    {
      py::gil_scoped_release release;
      reports.reserve(paths.size());
      for (size_t i = 0; i < paths.size(); ++i) {
        reports.push_back(contentfile_python::Report(
            paths[i], settings, dir + "/" + folders[i], force));
      }
    }
    return Decoded(reports);
  }

 private:
  py::list Decoded(const std::vector<std::string>& reports) {
    py::list out;
    for (const std::string& report : reports) {
      out.append(objects_.Decode(report));
    }
    return out;
  }

  JsonObjects objects_;
};

}  // namespace

void RegisterBatch(py::module_& module) {
  py::class_<Reporter>(module, "Reporter",
                       "Reports as cfdump --json makes them, and extraction.")
      .def(py::init<>())
      .def("report", &Reporter::Report, py::arg("path"), py::arg("utf8"),
           py::arg("digests"),
           "The report of one capture: the objects of the JSON that cfdump "
           "--json writes for it.")
      .def("reports", &Reporter::Reports, py::arg("paths"), py::arg("utf8"),
           py::arg("digests"), "The report of each capture.")
      .def("failed_report", &Reporter::FailedReport, py::arg("path"),
           py::arg("error"), "The report of an input that could not be listed.")
      .def("extract_reports", &Reporter::ExtractReports, py::arg("paths"),
           py::arg("folders"), py::arg("dir"), py::arg("force"),
           py::arg("folder_ids"), py::arg("utf8"), py::arg("digests"),
           "Extracts each capture into its planned folder of DIR and gives "
           "its report.");
  module.def(
      "decode_json",
      [](const std::string& text) { return JsonObjects().Decode(text); },
      py::arg("text"), "JSON text to the objects json.loads gives.");
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
      "plan_extraction",
      [](const std::vector<std::string>& paths, const std::string& dir,
         bool force) {
        std::string error;
        std::vector<std::string> folders;
        std::string ids;
        {
          py::gil_scoped_release release;
          if (cfdump::PrepareExtractDir(dir, &error)) {
            // The names under DIR, as the workers are given them.
            for (const std::string& folder :
                 cfdump::PlanCaptureFolders(Inputs(paths), dir, force)) {
              folders.push_back(folder.substr(dir.size() + 1));
            }
          }
        }
        py::list names;
        for (const std::string& folder : folders) {
          names.append(py::bytes(folder));
        }
        return py::make_tuple(py::bytes(error), names, py::bytes(ids));
      },
      py::arg("paths"), py::arg("dir"), py::arg("force"),
      "Creates DIR and names the folder of each capture in it, as cfdump "
      "extract does: (error, folders, folder ids of the inputs).");
}

}  // namespace contentfile_python
