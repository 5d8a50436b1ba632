// Drift: what a device holds that no record of its site explains (a change made on its
// keypad, by another tool, by another company). The image read is compared, field by field,
// with the image of the site's last proven record; the fields that differ are the drift. The
// fields are named as the window names them ("Параметры передачи: Направление 1: Номер телефона");
// the bytes no field's value sets are left out, since a device changes some of those by itself.
//
// A drifted field is kept as its id (a record's list of them); a write that would change one
// of those fields on the device writes over the drift, which the fronts ask about first.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/catalog.h"
#include "model/config_image.h"

namespace lovar {

struct DriftedField {
  const Field* field;
  std::string recorded;  // the value in the site's last proven image, as text
  std::string now;       // the value read
};

// The fields of model whose values differ between the recorded image and the one read, in
// catalog order; each side holds its first `extent` bytes (fields beyond either are not
// compared).
std::vector<DriftedField> CompareWithRecord(int model, const ConfigImage& recorded,
                                            int recorded_extent, const ConfigImage& read,
                                            int read_extent);

// The field as the window names it: "Параметры передачи: Направление 1: Номер телефона" (its page,
// then its caption).
std::string DriftFieldName(const Field& field);

// "изменено не через Ловар: Параметры: Номер объекта (было 1024, стало 1025); Коды: Код 1";
// the values of codes and keys are not shown.
std::string DriftText(const std::vector<DriftedField>& drift);
// The same from the ids alone (a record's list): "изменено не через Ловар: Параметры: Номер
// объекта; …"; an id the model does not know is named as it is.
std::string DriftText(int model, const std::vector<std::string>& ids);

// A record's list of field ids: "object_number,direction1.phone"; and back (blanks and empty
// items dropped).
std::string DriftIdsText(const std::vector<DriftedField>& drift);
std::vector<std::string> DriftIds(std::string_view text);

// The drifted fields (ids) that a write of `to_write` over a device holding `device` would
// change: the write goes over them. Both images whole (ImageLength of model).
std::vector<const Field*> DriftOverwritten(int model, const std::vector<std::string>& drifted,
                                           const ConfigImage& device, const ConfigImage& to_write);

// "Параметры: Номер объекта, Коды: Код 1": the fields named, for questions and refusals.
std::string FieldNames(const std::vector<const Field*>& fields);

}  // namespace lovar
