// The interface a program embeds: a table of categorical codes held in memory,
// clustered exactly as kelbow clusters it, with the number of clusters chosen
// as kelbow-choose chooses it, and everything the tools tell about the result
// handed back as values: the kelbow values, the candidates and their evidence,
// the labels of any level, the clusters' profiles, the model that assigns new
// rows and the report as HTML and JSON text.
//
// Nothing here prints, writes a file or ends the process. Every call that can
// meet bad input returns false with `err` set to one line, the line the tools
// print for the same fault (without the program's name and the newline); no
// exception leaves it but std::bad_alloc.
//
//   std::vector<std::int32_t> codes = ...;  // rows x attributes, row after row
//   kelbow::Table table;
//   kelbow::Fit fit;
//   std::string err;
//   if (!kelbow::Table::make(codes.data(), rows, attributes, {}, "survey", table, err) ||
//       !kelbow::fit(table, {}, fit, err))
//     return complain(err);
//   use(fit.k(), fit.labels());
//
// examples/embed.cpp is a whole program. The rooms below keep the details:
// choose/choose.h (the choice and its evidence), analysis/hierarchy.h (labels
// of any level), assign/ (the model and the assignment of new rows), profile/
// and report/ (what sets each cluster apart, the report).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/hierarchy.h"
#include "assign/assigner.h"
#include "assign/model.h"
#include "assign/refine.h"
#include "choose/choose.h"
#include "choose/code_table.h"
#include "csv/column_encoder.h"
#include "report/cluster_report.h"

namespace kelbow {

// A table of codes held in memory, with the names of its attributes and the
// text of every code. Copies share the codes.
class Table {
 public:
  // A table of `rows` rows of `attributes` codes each, given row after row.
  // Attribute a has as many values as `encoding` names for it, or, when the
  // encoding is empty, its largest code + 1 values (names 1, 2, ... and every
  // code standing for itself). `name` stands for the table in messages. False,
  // with err, for a table without rows or attributes, a code outside its
  // attribute's values, an encoding of another width, too many values in all,
  // or a table in which every attribute has one value.
  static bool make(const std::int32_t* codes, long long rows, int attributes, Encoding encoding,
                   std::string name, Table& out, std::string& err);

  // A table of codes already checked against their domains (read from a
  // table's files, for one), with its encoding (Encoding::ofCodes when the
  // codes stand for themselves). False, with err, when the encoding does not
  // describe the table's attributes.
  static bool hold(std::shared_ptr<const CodeTable> codes, Encoding encoding, std::string name,
                   Table& out, std::string& err);

  int rows() const { return codes_ == nullptr ? 0 : codes_->rowCount(); }
  int attributes() const { return codes_ == nullptr ? 0 : codes_->attributeCount(); }
  const TableDescription& description() const { return codes_->description(); }
  const CodeTable& codes() const { return *codes_; }
  const Encoding& encoding() const { return encoding_; }
  const std::string& name() const { return name_; }
  // Per attribute and code, whether the code's text is a missing marker.
  const std::vector<std::vector<bool>>& isMissing() const { return isMissing_; }

 private:
  std::shared_ptr<const CodeTable> codes_;
  Encoding encoding_;
  std::vector<std::vector<bool>> isMissing_;  // empty when there are no markers
  std::string name_;
};

// How a table is fitted. The choice runs on one thread unless asked otherwise.
struct FitSettings {
  int k = 0;  // 0: the recommended number of clusters; 2..30: this many whatever it is
  ChoiceSettings choice = {.threads = 1};
  bool refine = false;  // move rows between the k clusters as kelbow-labels --refine does
  int passes = kDefaultPassLimit;
};

// What one fit found. The labels of the chosen level, the model and the report
// come from the one clustering `fit` made; any other level's labels come from
// its hierarchy without clustering again.
class Fit {
 public:
  const Table& table() const { return table_; }
  // The recommendation, the candidates and the evidence at every K = 2..30.
  const Choice& choice() const { return choice_; }
  const Hierarchy& hierarchy() const { return hierarchy_; }
  // The clusters of labels(): the number asked for, or the recommendation.
  int k() const { return k_; }
  // The 29 values of the kelbow block, K = 2..30, in double precision (the
  // block prints them with six decimals).
  std::vector<double> kelbowValues() const;
  // The kelbow block as kelbow appends it for this table (the table's name as
  // its data-file line): input/kelbow_block.h reads it back.
  std::string kelbowBlock() const;
  // The cluster 1..k() of every row, numbered by size, largest first
  // (refined when the settings asked for it).
  const std::vector<int>& labels() const { return labels_; }
  // The cluster 1..k of every row at level k of the hierarchy, as
  // kelbow-labels gives it (never refined). False, with err, for a k outside
  // 1..30 or above the number of starting clusters.
  bool labelsAt(int k, std::vector<int>& out, std::string& err) const;
  // What refinement did, one line ("" unless refined).
  const std::string& refinement() const { return refinement_; }
  // The model of the k() clusters, which assigns new rows; modelJson(model())
  // is the model file's text.
  Model model() const;
  // What the report says of level k (k() when 0): the clusters' profiles with
  // `top` distinctive values and `typical` typical rows each, the variables
  // ranked, the dendrogram. renderReportHtml and renderReportJson
  // (report/cluster_report.h) make the page and the JSON of it. False, with
  // err, as labelsAt.
  bool report(int k, int top, int typical, ClusterReport& out, std::string& err) const;

 private:
  friend bool fit(const Table&, const FitSettings&, Fit&, std::string&);
  Table table_;
  Choice choice_;
  Hierarchy hierarchy_;
  int k_ = 1;
  bool kGiven_ = false;
  std::vector<int> labels_;
  std::string refinement_;
};

// Clusters `table` once, chooses the number of clusters from reference tables
// and other row orders as kelbow-choose does, and labels the rows. False, with
// err, when k is outside 2..30 or above the starting clusters, or a setting is
// out of range.
bool fit(const Table& table, const FitSettings& settings, Fit& out, std::string& err);

// The cluster of each of `rows` rows of codes, coded as `model`'s encoding
// codes them (a negative code: a value training never saw), as kelbow-assign
// places them. False, with err, for a row of another width or a code beyond
// its attribute's values.
bool assignCodes(const Model& model, const std::int32_t* codes, long long rows, int attributes,
                 std::vector<Assignment>& out, std::string& err);

// The cluster of each row of text cells, coded as kelbow-assign codes the
// fields of a CSV file (csv/row_coder.h: the model's record of how kelbow-csv
// made each attribute, its bins, date parts and split columns): `header`
// names the columns and `rows` holds each row's fields in their order. A row
// none of whose values training saw gets cluster -1. False, with err "NAME:
// what" (NAME standing for the rows), when the header lacks a column of the
// model or a row has another number of fields.
bool assignCells(const Model& model, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows, const std::string& name,
                 std::vector<Assignment>& out, std::string& err);

// assignCells over `rows` rows handed over as columns (csv/column_encoder.h):
// the columns are named by their names, and a missing cell is the empty field.
// Each distinct text of a column is coded once.
bool assignColumns(const Model& model, const std::vector<TextColumn>& columns, long long rows,
                   const std::string& name, std::vector<Assignment>& out, std::string& err);

}  // namespace kelbow
