// A programming plan: many devices programmed alike from one template, each with values of its
// own. A CSV table (csv.h) whose first row names the columns:
//   port      the serial port of the device ("/dev/ttyUSB0", "COM5")
//   template  a configuration file; a relative path is taken from the plan's folder
//   site      (may be left out) the device's site in the registry: its number or name
//   any other column a field id of the catalog ("object_number", "direction1.phone"...): the
//             row's value replaces the template's for that device; an empty cell keeps it.
// Rows whose every cell is empty are left out.
//
// The plan is checked whole before any device is touched, and refused with every fault named
// by its row and column: a port named twice or not at all, a template that cannot be read or is
// of another model than the plan's first, a column that is no field of that model or is named
// twice, a value its field refuses, a row with more or fewer cells than the header.
//
// A plan of a hundred thousand rows is held compactly: its text once, and per row its place in
// it, its port, template and object number; the cells and values of a row are read from the
// text again when they are needed (RowCells, RowValues).
//
// Threads: pure functions, but for the file reads of LoadBatchPlan.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/catalog.h"
#include "model/config_image.h"

namespace lovar {

struct PlanTemplate {
  std::filesystem::path path;  // as resolved from the plan's folder
  ConfigImage image;           // the file's image bytes from offset 0
};

struct PlanValue {
  const Field* field;
  std::string text;
  bool operator==(const PlanValue&) const = default;
};

struct PlanRow {
  int row = 0;   // as a spreadsheet numbers it: the header is row 1
  int line = 0;  // the line of the plan's text the row starts on
  std::string port;
  size_t template_index = 0;  // into BatchPlan::templates
  std::string object_number;  // as the device will hold it ("" where the model has none)
  std::string site;           // the site column's cell, trimmed ("" when none)
  // Where the row's record lies in BatchPlan::text: its cells as read are taken from there.
  size_t begin = 0;
  size_t end = 0;
};

struct BatchPlan {
  std::filesystem::path path;
  char separator = ',';
  bool bom = false;
  std::vector<std::string> header;  // as read
  int model = 0;
  std::vector<PlanTemplate> templates;
  std::vector<PlanRow> rows;
  std::string text;  // the plan as read
  // Per column of the header: the field its values go to; null for port, template, site and a
  // column without a name.
  std::vector<const Field*> columns;
};

struct PlanCheck {
  BatchPlan plan;
  // In Russian, each naming its row and column ("строка 3, столбец C (object_number): …");
  // empty when the plan is sound.
  std::vector<std::string> faults;
  bool unreadable = false;  // the plan's file itself could not be read (faults says why)
  bool ok() const { return faults.empty(); }
};

// Reads the file (only a regular one) and checks it.
PlanCheck LoadBatchPlan(const std::filesystem::path& path);
// Checks text as the plan at path (templates are taken from path's folder).
PlanCheck CheckBatchPlan(std::string_view text, const std::filesystem::path& path);

// The row's cells as read; its values (the non-empty cells of the field columns), in column
// order. For a row of a checked plan.
std::vector<std::string> RowCells(const BatchPlan& plan, const PlanRow& row);
std::vector<PlanValue> RowValues(const BatchPlan& plan, const PlanRow& row);

// The image the row's device is to hold, built over what the device holds now (image, read
// whole): the template's bytes (a model 251 file holds only bytes 0 to 2047; the rest stays
// the device's), then the row's values. False, with why naming the field, when a value is
// refused (not for a checked plan).
bool ApplyPlanRow(const BatchPlan& plan, const PlanRow& row, ConfigImage& image, std::string& why);
// The same from the template and the values given.
bool ApplyPlanValues(int model, const ConfigImage& templ, const std::vector<PlanValue>& values,
                     ConfigImage& image, std::string& why);

// "строка 3" for a row, "строка 3 (строка файла 5)" when it starts on another line of the text.
std::string RowText(int row, int line);

// The CSV text of a plan of just the rows given, to be saved at target: the plan's header and
// those rows' cells as read, with the same separator; a relative template path is rewritten so
// that it names the same file from target's folder.
std::string PlanOfRows(const BatchPlan& plan, const std::vector<const PlanRow*>& rows,
                       const std::filesystem::path& target);

}  // namespace lovar
