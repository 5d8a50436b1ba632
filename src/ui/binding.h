// Which control of the main window shows which catalog field: the binding table, control name
// (and for a grid, row and column) to field id, the same rule for every model. A control's
// binding follows the model through the field ids: ComboBoxTypeShl1 shows loop1.type, whose
// bytes are 100 on model 250 and the low bits of byte 2 on model 251 (model/catalog.h).
//
// Threads: the tables are built on first use (thread-safe static initialisation), then only
// read.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "model/catalog.h"

namespace lovar {

// Where a field shows: its control's object name and, for a grid, the cell (the column of a
// rights field is the first of its eight).
struct ControlPlace {
  std::string control;  // empty: the window shows the field nowhere
  int row = -1;
  int column = -1;
};
ControlPlace PlaceOf(const Field& field);

// The field shown by a control, or by a grid's cell (row and column given); null when the
// control shows none for the model.
const Field* FieldOfControl(int model, std::string_view control, int row = -1, int column = -1);

// A control that shows a whole byte whose bits the catalog names by other fields (model 251's
// output byte as a number beside its eight flags, the signal level's entry number).
struct ControlView {
  std::string_view control;
  int offset;
  std::string_view caption;  // the label beside it, for messages
};
std::span<const ControlView> ControlViews(int model);

// The field the window binds a control (or a grid's cell) to, which its display shows and its
// editor stores: the control's own field (FieldOfControl); for a view, its byte as a Number
// field without an id (it is no value of its own); and for model 252, whose window hides part
// of model 250's layout (loops 3 and 4, output 2, the key rights, the codes page), model 250's
// field on the same bytes. Null when the model binds the control to nothing: its editor then
// stores nothing.
const Field* BoundField(int model, std::string_view control, int row = -1, int column = -1);

// The tab sheet of a page: "TabSheet1" for the parameters.
std::string_view TabSheetOf(FieldPage page);

}  // namespace lovar
