// The extension under the Python package kelbow: the embedding interface
// (api/kelbow_api.h) as Python objects. The package's __init__.py builds the
// estimator on it; this file only converts. Bad input raises ValueError with
// the line the tools print; nothing here ends the interpreter.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "api/held_rows.h"
#include "api/kelbow_api.h"
#include "app/companion.h"
#include "app/csv_run.h"
#include "common/message_text.h"
#include "common/version.h"
#include "csv/column_encoder.h"
#include "input/kelbow_block.h"

namespace py = pybind11;
using kelbow::Fit;
using kelbow::Table;

namespace {

[[noreturn]] void refuse(const std::string& err) { throw py::value_error(err); }

using Codes = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;

// The table in a codes array (rows x attributes), with the names and value
// texts when given.
Table tableOfCodes(const Codes& codes, std::vector<std::string> names,
                   std::vector<std::vector<std::string>> values, std::vector<std::string> missing,
                   std::string name) {
  if (codes.ndim() != 2) refuse(name + ": the codes must form a 2-D array (rows x attributes)");
  if (values.empty() && !names.empty()) refuse(name + ": names need the values' texts too");
  kelbow::Encoding encoding;
  if (!values.empty()) {
    encoding.names = std::move(names);
    encoding.values = std::move(values);
    encoding.missing = std::move(missing);
  }
  Table t;
  std::string err;
  if (!Table::make(codes.data(), codes.shape(0), static_cast<int>(codes.shape(1)),
                   std::move(encoding), std::move(name), t, err))
    refuse(err);
  return t;
}

// Runs kelbow-csv's encoding of the CSV file `csv` into the table BASE with
// `options` (kelbow-csv's own), as kelbow-csv runs it, and reads the table back
// with the warnings kelbow-csv gave. Its messages go to standard error, caught
// here; on failure the last one becomes the ValueError. In every message the
// file's name is replaced by `shownName`.
py::tuple encodeCsv(const std::string& csv, const std::string& base,
                    std::vector<std::string> options, const std::string& shownName) {
  std::vector<std::string> args = {"kelbow-csv"};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), {"--quiet", "--force", "-o", base, "--", csv});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Standard error is caught in a file for the length of the call.
  std::string caught = base + ".messages";
  std::fflush(stderr);
  const int saved = ::dup(2);
  std::FILE* sink = std::fopen(caught.c_str(), "w+");
  if (saved < 0 || sink == nullptr)
    refuse(caught + ": cannot write (" + std::strerror(errno) + ")");
  ::dup2(::fileno(sink), 2);
  kelbow::CsvDecisions decided;
  const int status =
      kelbow::encodeCsvFor("kelbow-csv", static_cast<int>(args.size()), argv.data(), decided);
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  std::string messages;
  std::rewind(sink);
  for (int c; (c = std::fgetc(sink)) != EOF;) messages += static_cast<char>(c);
  std::fclose(sink);
  std::remove(caught.c_str());
  for (size_t at = 0; (at = messages.find(csv, at)) != std::string::npos; at += shownName.size())
    messages.replace(at, csv.size(), shownName);
  while (!messages.empty() && messages.back() == '\n') messages.pop_back();
  if (status != 0) {
    const size_t last = messages.rfind('\n');
    const std::string line = last == std::string::npos ? messages : messages.substr(last + 1);
    refuse(line.empty() ? "kelbow-csv: the frame could not be encoded" : line);
  }
  // What the table's files say is said of the frame.
  const auto refuseOf = [&](std::string err) {
    while (!err.empty() && err.back() == '\n') err.pop_back();
    for (const char* ext : {".desc", ".data", ".codes", ".names", ".missing"})
      for (size_t at = 0; (at = err.find(base + ext, at)) != std::string::npos;)
        err.replace(at, base.size() + std::strlen(ext), shownName);
    refuse(err);
  };
  std::unique_ptr<kelbow::CodeTable> codes;
  std::string err;
  if (!kelbow::readCodeTable(base + ".desc", base + ".data", codes, err)) refuseOf(err);
  kelbow::Encoding encoding;
  if (!kelbow::readEncoding(base, codes->description().domainSizes, encoding, err)) refuseOf(err);
  Table t;
  if (!Table::hold(std::move(codes), std::move(encoding), shownName, t, err)) refuseOf(err);
  return py::make_tuple(t, py::bytes(messages));
}

// The columns of a frame as the library takes them: per column its name, its
// int32 codes per row (-1: a missing cell) and the texts they index.
std::vector<kelbow::TextColumn> textColumns(const std::vector<std::string>& names,
                                            const std::vector<Codes>& codes,
                                            std::vector<std::vector<std::string>> texts,
                                            const std::string& shownName, long long& rows) {
  if (names.size() != codes.size() || names.size() != texts.size())
    refuse(shownName + ": names, codes and texts differ in length");
  rows = codes.empty() ? 0 : codes[0].shape(0);
  std::vector<kelbow::TextColumn> columns(names.size());
  for (size_t col = 0; col < names.size(); ++col) {
    if (codes[col].ndim() != 1 || codes[col].shape(0) != rows)
      refuse(shownName + ": the codes of column " + std::to_string(col + 1) +
             " are not one per row");
    columns[col] = {names[col], std::move(texts[col]), codes[col].data()};
  }
  return columns;
}

// Encodes the columns of a frame as kelbow-csv encodes the frame written as
// CSV with a header line: per column its name, the int32 index of each row's
// value among `texts` (-1: a missing cell) and the texts; `options` are
// kelbow-csv's typing options as words ("--bins", "4", "--day-first", ...).
// Returns the Table and kelbow-csv's lines, each as (is_warning, line) with
// the line as kelbow-csv prints it; a refusal is kelbow-csv's line as ValueError.
py::tuple encodeColumns(const std::vector<std::string>& names, const std::vector<Codes>& codes,
                        std::vector<std::vector<std::string>> texts,
                        const std::vector<std::string>& options, const std::string& shownName) {
  const std::string kProgram = "kelbow-csv: ";
  long long rows = 0;
  const std::vector<kelbow::TextColumn> columns =
      textColumns(names, codes, std::move(texts), shownName, rows);
  kelbow::TypingOptions o;
  std::string err;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const bool flag =
        option == "--decimal-comma" || option == "--decimal-point" || option == "--day-first";
    if (!flag && i + 1 == options.size()) refuse(kProgram + option + ": its value is missing");
    if (!kelbow::takeTypingOption(option, flag ? "" : options[++i], o, err))
      refuse(kProgram + err + " (see kelbow-csv --help)");
  }
  kelbow::EncodedColumns encoded;
  bool ok = false;
  {
    py::gil_scoped_release unlocked;
    ok = kelbow::encodeColumns(columns, rows, o, shownName, encoded, err);
  }
  // As kelbow-csv prints its lines: made safe for a terminal, a runaway one cut.
  const auto shown = [&](const std::string& text) {
    return kProgram + kelbow::shownText(text, kelbow::kShownMessageLimit);
  };
  if (!ok) refuse(shown(err));
  py::list lines;
  for (const kelbow::EncodedColumns::Line& l : encoded.lines)
    lines.append(py::make_tuple(l.warning, shown((l.warning ? "warning: " : "") + l.text)));
  kelbow::Encoding encoding;
  encoding.names = std::move(encoded.names);
  encoding.values = std::move(encoded.values);
  encoding.missing = std::move(encoded.missing);
  encoding.source = std::move(encoded.source);
  Table t;
  if (!Table::make(encoded.codes.data(), encoded.rows, encoded.attributes, std::move(encoding),
                   shownName, t, err))
    refuse(err);
  return py::make_tuple(t, lines);
}

Fit fitTable(const Table& table, int k, int references, int orders, std::uint64_t seed, int threads,
             long long referenceRows, bool refine, int passes) {
  kelbow::FitSettings s;
  s.k = k;
  s.choice.references = references;
  s.choice.orders = orders;
  s.choice.seed = seed;
  s.choice.threads = threads;
  if (referenceRows > 0) s.choice.referenceRows = referenceRows;
  s.refine = refine;
  s.passes = passes;
  Fit f;
  std::string err;
  bool ok = false;
  {
    py::gil_scoped_release unlocked;
    ok = kelbow::fit(table, s, f, err);
  }
  if (!ok) refuse(err);
  return f;
}

// The values of the kelbow block, written as kelbow writes it and read back
// as kelbow-plot reads it, as float32.
py::array_t<float> blockFloats(const Fit& f) {
  std::istringstream block(f.kelbowBlock());
  kelbow::KelbowBlock read;
  std::string err;
  if (!kelbow::parseKelbowBlock(block, "block", std::nullopt, &read, &err)) refuse(err);
  py::array_t<float> out(static_cast<py::ssize_t>(read.values.size()));
  for (size_t i = 0; i < read.values.size(); ++i)
    out.mutable_at(i) = static_cast<float>(read.values[i]);
  return out;
}

py::array_t<std::int32_t> asArray(const std::vector<int>& v) {
  py::array_t<std::int32_t> out(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

kelbow::ClusterReport reportOf(const Fit& f, int k, int top, int typical) {
  kelbow::ClusterReport r;
  std::string err;
  if (!f.report(k, top, typical, r, err)) refuse(err);
  return r;
}

// One record per cluster and distinctive value: the columns of profile().
py::dict profileColumns(const Fit& f, int k, int top) {
  const kelbow::ClusterReport r = reportOf(f, k, top, 0);
  std::vector<int> cluster, rank;
  std::vector<long long> size, count;
  std::vector<double> clusterShare, share, overall, lift, z, p;
  std::vector<std::string> attribute, value;
  for (const kelbow::ClusterProfile& c : r.clusters) {
    for (size_t i = 0; i < c.distinctive.size(); ++i) {
      const kelbow::ValueStanding& s = c.distinctive[i];
      cluster.push_back(c.cluster + 1);
      size.push_back(c.size);
      clusterShare.push_back(c.share);
      rank.push_back(static_cast<int>(i) + 1);
      attribute.push_back(r.attributeNames[s.attribute]);
      value.push_back(r.values[s.attribute][s.code]);
      count.push_back(s.count);
      share.push_back(s.share);
      overall.push_back(s.overallShare);
      lift.push_back(s.lift);
      z.push_back(s.z);
      p.push_back(s.pValue);
    }
  }
  py::dict d;
  d["cluster"] = cluster, d["size"] = size, d["cluster_share"] = clusterShare;
  d["rank"] = rank, d["attribute"] = attribute, d["value"] = value, d["count"] = count;
  d["share"] = share, d["overall_share"] = overall, d["lift"] = lift, d["z"] = z;
  d["p_value"] = p;
  return d;
}

py::dict variableColumns(const Fit& f, int k) {
  const kelbow::ClusterReport r = reportOf(f, k, 0, 0);
  std::vector<std::string> attribute;
  std::vector<double> chi, p, v;
  std::vector<int> degrees;
  for (const kelbow::VariableSeparation& s : r.variables) {
    attribute.push_back(r.attributeNames[s.attribute]);
    chi.push_back(s.chiSquare), degrees.push_back(s.degrees), p.push_back(s.pValue);
    v.push_back(s.cramersV);
  }
  py::dict d;
  d["attribute"] = attribute, d["cramers_v"] = v, d["chi_square"] = chi;
  d["degrees"] = degrees, d["p_value"] = p;
  return d;
}

py::dict evidenceColumns(const Fit& f) {
  const kelbow::Choice& c = f.choice();
  std::vector<int> k, orders;
  std::vector<double> value, mean, sd, z, reduction, refReduction, agreement;
  std::vector<bool> supported, candidate;
  for (const kelbow::LevelEvidence& e : c.levels) {
    k.push_back(e.k), value.push_back(e.value), mean.push_back(e.referenceMean);
    sd.push_back(e.referenceSd), z.push_back(e.z), reduction.push_back(e.reduction);
    refReduction.push_back(e.referenceReduction), supported.push_back(e.supported);
    orders.push_back(e.ordersSupported), agreement.push_back(e.agreement);
    candidate.push_back(std::find(c.candidates.begin(), c.candidates.end(), e.k) !=
                        c.candidates.end());
  }
  py::dict d;
  d["k"] = k, d["value"] = value, d["reference_mean"] = mean, d["reference_sd"] = sd;
  d["z"] = z, d["reduction"] = reduction, d["reference_reduction"] = refReduction;
  d["supported"] = supported, d["candidate"] = candidate, d["orders_supported"] = orders;
  d["agreement"] = agreement;
  return d;
}

kelbow::Model modelOf(const std::string& text, const std::string& name) {
  kelbow::Model m;
  std::string err;
  if (!kelbow::readModel(text, name, m, err)) refuse(err);
  return m;
}

// Cluster 1..k (0: none) and margin of each placed row.
py::tuple assignments(const std::vector<kelbow::Assignment>& placed) {
  py::array_t<std::int32_t> cluster(static_cast<py::ssize_t>(placed.size()));
  py::array_t<double> margin(static_cast<py::ssize_t>(placed.size()));
  for (size_t i = 0; i < placed.size(); ++i) {
    cluster.mutable_at(i) = placed[i].cluster + 1;  // 0: no cluster
    margin.mutable_at(i) = placed[i].margin;
  }
  return py::make_tuple(cluster, margin);
}

py::tuple assign(const kelbow::Model& m, const Codes& codes) {
  if (codes.ndim() != 2) refuse("the rows must form a 2-D array (rows x attributes)");
  std::vector<kelbow::Assignment> placed;
  std::string err;
  if (!kelbow::assignCodes(m, codes.data(), codes.shape(0), static_cast<int>(codes.shape(1)),
                           placed, err))
    refuse(err);
  return assignments(placed);
}

py::tuple assignColumns(const kelbow::Model& m, const std::vector<std::string>& names,
                        const std::vector<Codes>& codes,
                        std::vector<std::vector<std::string>> texts, const std::string& name) {
  long long rows = 0;
  const std::vector<kelbow::TextColumn> columns =
      textColumns(names, codes, std::move(texts), name, rows);
  std::vector<kelbow::Assignment> placed;
  std::string err;
  if (!kelbow::assignColumns(m, columns, rows, name, placed, err)) refuse(err);
  return assignments(placed);
}

}  // namespace

PYBIND11_MODULE(_kelbow, m) {
  m.doc() = "The kelbow library as Python objects; use the package kelbow, not this module.";
  m.attr("__version__") = std::string(kelbow::kVersion);

  py::class_<Table>(m, "Table", "A table of codes held in memory, with its names and values.")
      .def_property_readonly("rows", &Table::rows, "Rows of the table.")
      .def_property_readonly("attributes", &Table::attributes, "Attributes of the table.")
      .def_property_readonly(
          "names", [](const Table& t) { return t.encoding().names; }, "The attribute names.")
      .def_property_readonly(
          "values", [](const Table& t) { return t.encoding().values; },
          "Per attribute, the text of each code.")
      .def(
          "codes",
          [](const Table& t) {
            py::array_t<std::int32_t> out({t.rows(), t.attributes()});
            auto o = out.mutable_unchecked<2>();
            for (int r = 0; r < t.rows(); ++r)
              for (int a = 0; a < t.attributes(); ++a) o(r, a) = t.codes().code(r, a);
            return out;
          },
          "The codes as a rows x attributes int32 array.");
  m.def("table_of_codes", &tableOfCodes, py::arg("codes"), py::arg("names"), py::arg("values"),
        py::arg("missing"), py::arg("name"),
        "A Table of a rows x attributes array of codes 0..d-1, with names and value texts when "
        "given.");
  m.def("encode_columns", &encodeColumns, py::arg("names"), py::arg("codes"), py::arg("texts"),
        py::arg("options"), py::arg("shown_name"),
        "Encodes a frame's columns (per column its name, int32 codes per row into its value texts, "
        "-1 for a missing cell, and the texts) as kelbow-csv encodes the frame written as CSV; "
        "returns the Table and kelbow-csv's lines as (is_warning, line).");
  m.def("encode_csv", &encodeCsv, py::arg("csv"), py::arg("base"), py::arg("options"),
        py::arg("shown_name"),
        "Encodes the CSV file csv as kelbow-csv does (with its options) into the table files "
        "base.* and returns the Table and kelbow-csv's warnings (bytes, one a line).");

  py::class_<Fit>(m, "Fit", "One fit: the choice, the hierarchy and the labels.")
      .def_property_readonly("k", &Fit::k, "The number of clusters of the labels.")
      .def_property_readonly(
          "recommended", [](const Fit& f) { return f.choice().k; }, "The recommended K.")
      .def_property_readonly(
          "candidates", [](const Fit& f) { return f.choice().candidates; },
          "The supported K, the recommendation first.")
      .def_property_readonly("curve", &blockFloats, "The kelbow block's 29 values (K = 2..30).")
      .def_property_readonly("kelbow_block", &Fit::kelbowBlock, "The kelbow block's text.")
      .def_property_readonly("kelbow_values", &Fit::kelbowValues,
                             "The 29 values in double precision, before printing.")
      .def_property_readonly(
          "entropy",
          [](const Fit& f) {
            std::vector<float> c(f.hierarchy().curveData() + 1, f.hierarchy().curveData() + 40);
            return c;
          },
          "Normalised expected entropy at 1..39 clusters.")
      .def_property_readonly(
          "labels", [](const Fit& f) { return asArray(f.labels()); }, "Cluster 1..k of every row.")
      .def(
          "labels_at",
          [](const Fit& f, int k) {
            std::vector<int> out;
            std::string err;
            if (!f.labelsAt(k, out, err)) refuse(err);
            return asArray(out);
          },
          py::arg("k"), "Cluster 1..k of every row at level k of the hierarchy.")
      .def_property_readonly("refinement", &Fit::refinement, "What refinement did.")
      .def_property_readonly("evidence", &evidenceColumns, "The evidence at K = 2..30, by column.")
      .def("profile", &profileColumns, py::arg("k"), py::arg("top"),
           "Distinctive values of every cluster at level k, by column.")
      .def("variables", &variableColumns, py::arg("k"), "Variables ranked at level k, by column.")
      .def(
          "model_json", [](const Fit& f) { return kelbow::modelJson(f.model()); },
          "The model file's text.")
      .def(
          "report_html",
          [](const Fit& f, int k, int top, int typical) {
            return kelbow::renderReportHtml(reportOf(f, k, top, typical));
          },
          py::arg("k"), py::arg("top"), py::arg("typical"), "The report page.")
      .def(
          "report_json",
          [](const Fit& f, int k, int top, int typical) {
            return kelbow::renderReportJson(reportOf(f, k, top, typical));
          },
          py::arg("k"), py::arg("top"), py::arg("typical"), "The report's JSON.");
  m.def("fit", &fitTable, py::arg("table"), py::arg("k"), py::arg("references"), py::arg("orders"),
        py::arg("seed"), py::arg("threads"), py::arg("reference_rows"), py::arg("refine"),
        py::arg("passes"), "Clusters the table, chooses K and labels the rows.");

  py::class_<kelbow::Model>(m, "Model", "A model file: the clusters new rows are assigned to.")
      .def_property_readonly("k", &kelbow::Model::clusterCount, "Clusters of the model.")
      .def_property_readonly(
          "names", [](const kelbow::Model& md) { return md.encoding().names; },
          "The attribute names.")
      .def_property_readonly(
          "values", [](const kelbow::Model& md) { return md.encoding().values; },
          "Per attribute, the text of each code.")
      .def_property_readonly(
          "missing", [](const kelbow::Model& md) { return md.encoding().missing; },
          "The missing markers.")
      .def(
          "json", [](const kelbow::Model& md) { return kelbow::modelJson(md); },
          "The model file's text.")
      .def("assign", &assign, py::arg("codes"),
           "Cluster 1..k (0: none) and margin of every row of codes (-1: a value never seen).")
      .def("assign_columns", &assignColumns, py::arg("names"), py::arg("codes"), py::arg("texts"),
           py::arg("name"),
           "Cluster 1..k (0: none) and margin of every row of a frame's columns handed over as "
           "encode_columns takes them, the cells coded as kelbow-assign codes a CSV file's "
           "fields.");
  m.def("read_model", &modelOf, py::arg("text"), py::arg("name"),
        "The Model of a model file's text; name stands for the file in messages.");
}
