// What each device model has, as the engine, the catalog, the session and the windows need to
// know it once a device is identified: the length of its image, the layout its bytes follow,
// the loops and outputs it offers, the pages of fields it has and what its keys carry. Domain
// data only: how the window is shaped for a model (which controls, what size) is the window's
// own table (src/ui/window_setup.h).
//
// Threads: constant tables, read from any thread.
#pragma once

#include <cstdint>
#include <span>

namespace lovar {

// The pages of fields, in the window's tab order.
enum class FieldPage : uint8_t { Parameters, Keys, Codes, Directions, Filter, Gprs };

struct ModelSetup {
  int model;         // 250, 251, 252
  int image_length;  // bytes a read and a write cover: 256, or 4096 for model 251
  int layout;        // the model whose byte layout this one's follows (252: model 250's)
  int loops;         // alarm loops the model offers: 4, or 2 on model 252
  int outputs;       // relay outputs: 2, or 1 on model 252
  std::span<const FieldPage> pages;  // the pages of fields it has, in tab order
  bool key_rights;                   // keys carry arming and disarming rights (not on model 252)
  bool key_names;                    // keys carry names (model 251)

  bool Has(FieldPage page) const;
};

// The set-up of model 250, 251 or 252; null for any other code (nothing is set up then).
const ModelSetup* FindModelSetup(int model);

}  // namespace lovar
