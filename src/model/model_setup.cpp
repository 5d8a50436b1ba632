#include "model/model_setup.h"

#include <algorithm>

namespace lovar {
namespace {

using P = FieldPage;
constexpr FieldPage kPages250[] = {P::Parameters, P::Keys, P::Codes};
constexpr FieldPage kPages252[] = {P::Parameters, P::Keys};
constexpr FieldPage kPages251[] = {P::Parameters, P::Keys, P::Directions, P::Filter, P::Gprs};

// Keys: 4 bytes at 156 + 4k with their rights at 235 + k; or entries of 16 bytes at 3584 + 16k,
// the code at +0 to +7 and the rights at +9.
constexpr KeyLayout kKeysT = {156, 4, 4, 235, 1, false, 3};
constexpr KeyLayout kKeysM = {3584, 16, 8, 3584 + 9, 16, true, 0};

// "Охранный актив." (type 3) from firmware 2.0 (byte 10) on.
constexpr FirmwareLoopType kActiveGuardT = {3, 10};

constexpr ModelSetup kModels[] = {
    {.model = 250,
     .name = "Ловар-Т",
     .line_name = "Ловар-Т",
     .file_name = "Ловар-Т",
     .image_length = 256,
     .file_image_length = 256,
     .write_start = 0,
     .zero_from = 127,
     .zero_end = 131,
     .layout = ImageLayout::T,
     .keys = kKeysT,
     .lists_corrected = true,
     .firmware_loop_type = kActiveGuardT,
     .loops = 4,
     .outputs = 2,
     .pages = kPages250,
     .key_rights = true,
     .key_names = false,
     .load_folder = "LovarT",
     .save_folder = "LovarT",
     .save_in_folder = false,
     .default_file = "Lovart.dat"},
    {.model = 251,
     .name = "Ловар-М",
     .line_name = "Ловар-М",
     .file_name = "Ловар-М",
     .image_length = 4096,
     .file_image_length = 2048,
     .write_start = 0,
     .zero_from = 0,
     .zero_end = 0,
     .layout = ImageLayout::M,
     .keys = kKeysM,
     .lists_corrected = false,
     .firmware_loop_type = {},
     .loops = 4,
     .outputs = 2,
     .pages = kPages251,
     .key_rights = true,
     .key_names = true,
     .load_folder = "LovarM",
     .save_folder = "LovarM",
     .save_in_folder = true,
     .default_file = "LovarM.dat"},
    {.model = 252,
     .name = "Ловар-Т2",
     .line_name = "Ловар-Т2 ",
     .file_name = "Ловар-Т",
     .image_length = 256,
     .file_image_length = 256,
     .write_start = 100,
     .zero_from = 127,
     .zero_end = 131,
     .layout = ImageLayout::T,
     .keys = kKeysT,
     .lists_corrected = true,
     .firmware_loop_type = kActiveGuardT,
     .loops = 2,
     .outputs = 1,
     .pages = kPages252,
     .key_rights = false,
     .key_names = false,
     .load_folder = "LovarT2",
     .save_folder = "LovarT-2",
     .save_in_folder = false,
     .default_file = "Lovart.dat"},
};

}  // namespace

bool ModelSetup::Has(FieldPage page) const {
  return std::find(pages.begin(), pages.end(), page) != pages.end();
}

const ModelSetup* FindModelSetup(int model) {
  for (const ModelSetup& setup : kModels)
    if (setup.model == model) return &setup;
  return nullptr;
}

std::span<const ModelSetup> KnownModelSetups() {
  return kModels;
}

std::vector<int> KnownModels() {
  std::vector<int> models;
  for (const ModelSetup& setup : kModels) models.push_back(setup.model);
  return models;
}

std::string KnownModelsText(std::string_view last_joint) {
  std::string text;
  for (size_t i = 0; i < std::size(kModels); ++i) {
    if (i > 0) text += i + 1 == std::size(kModels) ? last_joint : ", ";
    text += std::to_string(kModels[i].model);
  }
  return text;
}

bool IsImageOrFileLength(size_t bytes) {
  for (const ModelSetup& setup : kModels)
    if (bytes == static_cast<size_t>(setup.image_length) ||
        bytes == static_cast<size_t>(setup.file_image_length))
      return true;
  return false;
}

bool ModelHas(int model, FieldPage page) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr && setup->Has(page);
}

int FirstModelWith(FieldPage page) {
  for (const ModelSetup& setup : kModels)
    if (setup.Has(page)) return setup.model;
  return 0;
}

int LayoutModel(ImageLayout layout) {
  for (const ModelSetup& setup : kModels)
    if (setup.layout == layout) return setup.model;
  return 0;
}

}  // namespace lovar
