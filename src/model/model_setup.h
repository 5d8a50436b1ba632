// What makes each device model, gathered in one table: its code and names, the length of its
// image and of its files, where a write starts and which bytes it sends as 0, the layout its
// bytes follow and where its keys lie, the loops, outputs and pages it offers, what its firmware
// changes, its files' folders. The engine, the files, the check, the simulator and the windows
// ask this table and never a model's code. Domain data only: how the window is shaped for a
// model (which controls, what size) is the window's own table (src/ui/window_setup.h).
//
// Adding a model: its row here; a new byte layout also needs its tables (layout.cpp, the keys'
// KeyLayout here) and its catalog entries (catalog_fields.cpp); the window its form
// (window_setup.cpp). docs/architecture.md says it whole.
//
// Threads: constant tables, read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lovar {

// The pages of fields, in the window's tab order.
enum class FieldPage : uint8_t { Parameters, Keys, Codes, Directions, Filter, Gprs };

// The byte layouts of the images. A model follows one; another may follow it too and offer
// less of it (fewer loops and outputs: its bytes are the same).
enum class ImageLayout : uint8_t {
  T,  // "Ловар-Т": 256 bytes; user codes, per-loop delays, outputs with their times
  M,  // "Ловар-М": 4096 bytes; report directions, names, common delays, a siren per loop
};

// Where the 16 keys lie: key k's code at code_offset + code_stride * k, its rights byte at
// rights_offset + rights_stride * k.
struct KeyLayout {
  int code_offset;
  int code_stride;
  int code_bytes;  // 4 or 8: the digits a key shows are twice this
  int rights_offset;
  int rights_stride;
  bool arm_high;     // arming rights in bits 4 to 7, disarming in 0 to 3 (else the other way)
  int learnt_first;  // a learnt key's code: the key buffer's entries from this one on
};

// A loop type the device knows only from a firmware on: the window offers it there, and the
// check warns of it below ("Охранный актив." from version 2.0, byte 10).
struct FirmwareLoopType {
  int type = -1;  // the loop type's stored value; -1: the model has none
  int from_firmware = 0;
};

struct ModelSetup {
  int model;              // the code the device names itself by: 250, 251, 252
  std::string_view name;  // in lists, documents and reports: "Ловар-Т2"
  std::string_view line_name;  // in the device list before "Версия": "Ловар-Т2 " (its own blank)
  std::string_view file_name;  // what a file's header calls it: "Ловар-Т" also for 252
  int image_length;            // bytes a read and a write cover: 256, or 4096
  int file_image_length;       // bytes of the image a file holds: 256, or 2048 of model 251's 4096
  int write_start;             // the first byte a write sends: bytes before it are never written
  int zero_from, zero_end;     // bytes [zero_from, zero_end) every write sends as 0 (none: equal)
  ImageLayout layout;
  KeyLayout keys;
  bool lists_corrected;  // a loop type or output mode no entry names reads as the first entry
  FirmwareLoopType firmware_loop_type;
  int loops;                         // alarm loops the model offers: 4, or 2
  int outputs;                       // relay outputs: 2, or 1
  std::span<const FieldPage> pages;  // the pages of fields it has, in tab order
  bool key_rights;                   // keys carry arming and disarming rights
  bool key_names;                    // keys carry names
  // The file dialogs (below the program's folder): the folder a load starts in, the one a save
  // creates, whether a save starts there at all, and the file name a save proposes.
  std::string_view load_folder;
  std::string_view save_folder;
  bool save_in_folder;
  std::string_view default_file;

  bool Has(FieldPage page) const;
};

// The set-up of a known model; null for any other code (nothing is set up then).
const ModelSetup* FindModelSetup(int model);
// Every known model, in the table's order (250, 251, 252).
std::span<const ModelSetup> KnownModelSetups();
// Their codes, in the same order: what an option or a document's member may name.
std::vector<int> KnownModels();
// Their codes as a message lists them: "250, 251 или 252" (joined by "или"), or "250, 251, 252".
std::string KnownModelsText(std::string_view last_joint = " или ");
// Whether some model's image or file is that long (256, 2048, 4096): what a record may keep.
bool IsImageOrFileLength(size_t bytes);
// Whether the model offers the page (false for an unknown model).
bool ModelHas(int model, FieldPage page);
// The first of the table's models that offers the page; 0 for none.
int FirstModelWith(FieldPage page);
// The model that offers the whole of a layout and whose catalog names all its fields: the first
// of the table's models that follow it (250 for T, 251 for M); 0 for none.
int LayoutModel(ImageLayout layout);

}  // namespace lovar
