// A read compared with its site's last proven record (model/drift.h), on the registry's
// thread, before the read's own record is kept: the read's record then carries the fields that
// drifted, and the fronts say them ("изменено не через Ловар: …"). A registry that cannot answer
// now leaves the read "не сравнено", said, never a failure of the read.
//
// The site: the one the record names (--site, a batch row's, the window's choice), else a
// model 251's by its object number; a device of no known site is not compared. The record
// compared with: the site's newest record of the model that proves what the device held (a
// read, a write proven whole) and found no drift itself: drift found once is found again at
// every read, until a write of ours is proven over it (which takes what the device holds as
// the site's) or the device is put back. A field whose value read is what a later write of
// ours put there, not proven (not read back, stopped midway), is no drift: a record explains
// it.
//
// Threads: CompareWithSite on the registry's thread (it queries the registry); the rest pure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/drift.h"
#include "store/registry.h"

namespace lovar {

struct DriftFound {
  enum class State {
    NotCompared,  // the registry did not answer: why says why
    NoSite,       // the device's site is not known
    NoRecord,     // the site has no proven record of this model yet
    Compared,
  };
  State state = State::NotCompared;
  std::string port;
  int model = 0;
  int64_t site = 0;
  std::string site_name;
  RecordInfo base;                   // Compared: the record compared with
  std::vector<DriftedField> fields;  // Compared: what drifted (empty: nothing)
  std::string why;                   // NotCompared
  bool drifted() const { return state == State::Compared && !fields.empty(); }
  // The drifted fields' ids.
  std::vector<std::string> ids() const;
};

// read: a complete read's record, with its site as the run gives it (0: found by its number).
DriftFound CompareWithSite(Registry& registry, const SiteRecord& read);
// Not compared, for why (the registry could not be opened, did not answer in time).
DriftFound NotCompared(const SiteRecord& read, std::string why);
// The read's record carries the drift found.
void MarkDrift(const DriftFound& found, SiteRecord& read);

// The drifted fields that a write of to_write over a device holding device_now (the image
// read) would change, named as the window names them ("" when none): the write goes over them,
// which the fronts ask about first.
std::string OverwrittenDrift(const DriftFound& found, const ConfigImage& device_now,
                             const ConfigImage& to_write);

// What a front says of it: "изменено не через Ловар: … (сравнено с записью реестра от
// 01.05.2024 12:30)" when
// drifted; "Не сравнено с реестром объектов: …" when not compared; "" otherwise.
std::string DriftFoundText(const DriftFound& found);

}  // namespace lovar
