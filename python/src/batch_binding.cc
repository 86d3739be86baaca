#include "python/src/batch_binding.h"

#include <pybind11/stl.h>
#include <sys/types.h>

#include <exception>
#include <string>
#include <vector>

#include "python/src/json_objects.h"
#include "tools/cfdump/capture.h"
#include "tools/cfdump/digests.h"
#include "tools/cfdump/extract.h"
#include "tools/cfdump/input_list.h"
#include "tools/cfdump/json_report.h"

namespace py = pybind11;

namespace contentfile_python {
namespace {

// What a report holds beyond cfdump's defaults, as its options say.
struct ReportSettings {
  bool utf8 = false;  // --utf8
  cfdump::DigestChoice digests;
};

ReportSettings Settings(bool utf8, const std::string& digests) {
  ReportSettings settings;
  settings.utf8 = utf8;
  if (!cfdump::ParseDigestChoice(digests, &settings.digests)) {
    throw py::value_error(
        "hashes: a comma-separated list of md5, sha1 and "
        "sha256 is expected, not \"" +
        digests + "\"");
  }
  return settings;
}

std::string FailedReport(const std::string& path, const std::string& error) {
  cfdump::CaptureReport report;
  report.path = path;
  report.status = cfdump::Status::kFailed;
  report.error = error;
  return cfdump::FormatJsonReport(report);
}

// The JSON report of one capture as cfdump's batch makes it, extracted
// into `folder` of `dir` when `dir` is given; an unexpected error fails
// this capture alone.
std::string Report(const std::string& path, const ReportSettings& settings,
                   const cfdump::ExtractDir* dir = nullptr,
                   const std::string& folder = std::string(),
                   const cfdump::ExtractSettings* extract = nullptr) {
  try {
    cfdump::Capture capture(path, path);
    // Converted first, so that extraction names files in UTF-8.
    if (settings.utf8) capture.ConvertToUtf8();
    if (dir != nullptr) {
      cfdump::ExtractCapture(&capture, *dir, folder, *extract);
    } else {
      capture.MeasureParts(settings.digests);
    }
    return cfdump::FormatJsonReport(capture.report());
  } catch (const std::exception& e) {
    return FailedReport(path, std::string("unexpected error: ") + e.what());
  }
}

std::vector<cfdump::Input> Inputs(const std::vector<std::string>& paths) {
  std::vector<cfdump::Input> inputs;
  inputs.reserve(paths.size());
  for (const std::string& path : paths) inputs.push_back({path, {}, {}});
  return inputs;
}

// The folders that hold inputs, as "device:inode" joined by ","; they pass
// from the client that plans an extraction to the workers that do it.
std::string PackFolderIds(const cfdump::FolderIds& ids) {
  std::string packed;
  for (const auto& id : ids) {
    if (!packed.empty()) packed += ',';
    packed += std::to_string(id.first) + ':' + std::to_string(id.second);
  }
  return packed;
}

cfdump::FolderIds UnpackFolderIds(const std::string& packed) {
  cfdump::FolderIds ids;
  size_t start = 0;
  while (start < packed.size()) {
    size_t end = packed.find(',', start);
    if (end == std::string::npos) end = packed.size();
    const std::string id = packed.substr(start, end - start);
    const size_t colon = id.find(':');
    if (colon == std::string::npos) throw py::value_error("bad folder ids");
    ids.insert({static_cast<dev_t>(std::stoull(id.substr(0, colon))),
                static_cast<ino_t>(std::stoull(id.substr(colon + 1)))});
    start = end + 1;
  }
  return ids;
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
                          const std::string& folder_ids, bool utf8,
                          const std::string& digests) {
    if (folders.size() != paths.size()) {
      throw py::value_error("one folder per capture is needed");
    }
    const ReportSettings settings = Settings(utf8, digests);
    cfdump::ExtractSettings extract;
    extract.force = force;
    extract.digests = settings.digests;
    extract.inputs = UnpackFolderIds(folder_ids);
    std::vector<std::string> reports;
    {
      py::gil_scoped_release release;
      reports.reserve(paths.size());
      cfdump::ExtractDir extract_dir;
      std::string error;
      const bool open = extract_dir.Open(dir, &error);
      for (size_t i = 0; i < paths.size(); ++i) {
        reports.push_back(
            open ? contentfile_python::Report(paths[i], settings, &extract_dir,
                                              folders[i], &extract)
                 : contentfile_python::FailedReport(paths[i], error));
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
          cfdump::ExtractDir extract_dir;
          if (extract_dir.Open(dir, &error)) {
            const std::vector<cfdump::Input> inputs = Inputs(paths);
            cfdump::ExtractSettings settings;
            settings.force = force;
            settings.inputs = cfdump::InputFolders(inputs);
            folders = cfdump::PlanCaptureFolders(inputs, extract_dir, settings);
            ids = PackFolderIds(settings.inputs);
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
