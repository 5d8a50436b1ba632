// The undo and redo history of the installer's edits to the configuration image. The history
// keeps a snapshot of the image; each Capture turns what changed since then into one step (the
// changed bytes before and after, named by the catalog's fields), so any editor, a key learnt
// or deleted, is taken back whole by one Undo, whatever control made the change.
//
// Changes that are no edit (the corrections a display makes to out-of-range bytes, the bytes a
// write sends as 0, a part of the image taken from the device) are Absorbed: they become part
// of the snapshot without a step, and the steps that touched those bytes leave the history, so
// that no Undo ever puts back a byte from before such a change.
//
// Threads: one owner; no locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/catalog.h"
#include "model/config_image.h"
#include "model/image_diff.h"

namespace lovar {

// Bytes from offset on, as they were before the step and after it.
struct ByteRun {
  int offset = 0;
  std::vector<uint8_t> before;
  std::vector<uint8_t> after;
};

struct EditStep {
  // The field changed, as the window calls it ("ШС2: Тип шлейфа"); "… и ещё N" when a step
  // changed more fields (a key grid committed whole); the bytes when no field covers them.
  std::string label;
  // The first field changed in the window's order (its page is where the step shows), or null.
  const Field* field = nullptr;
  std::vector<ByteRun> runs;
};

class EditHistory {
 public:
  // Steps kept; the oldest go first.
  static constexpr size_t kMaxSteps = 500;

  // Starts anew from image (a complete read, a file loaded, another model): nothing to undo or
  // redo.
  void Reset(const ConfigImage& image);

  // What changed in the first `length` bytes of image since the snapshot becomes one step, named
  // from model's fields; nothing to redo after it. False when nothing changed.
  bool Capture(const ConfigImage& image, int model, int length);

  // Changes that are no edit: into the snapshot without a step; the steps that touched a changed
  // byte are dropped. Returns the bytes that changed.
  std::vector<ByteRange> Absorb(const ConfigImage& image, int length);

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The step an Undo (Redo) would take back (do again); null when none.
  const EditStep* NextUndo() const { return undo_.empty() ? nullptr : &undo_.back(); }
  const EditStep* NextRedo() const { return redo_.empty() ? nullptr : &redo_.back(); }

  // Puts back the bytes from before the last step (after it, for Redo) and returns a copy of
  // the step; an empty step (no runs) when there was none. Capture first: an Undo takes back
  // the last step, not changes made since.
  EditStep Undo(ConfigImage& image);
  EditStep Redo(ConfigImage& image);

  const ConfigImage& snapshot() const { return snapshot_; }

 private:
  // The last step of `from` applied (its bytes before or after) and moved onto `to`.
  EditStep Move(std::vector<EditStep>& from, std::vector<EditStep>& to, ConfigImage& image,
                bool after);

  ConfigImage snapshot_;
  std::vector<EditStep> undo_;
  std::vector<EditStep> redo_;
};

// The name of a change from before to after in the first `length` bytes, as EditStep::label.
std::string ChangeLabel(int model, const ConfigImage& before, const ConfigImage& after, int length,
                        const Field** first = nullptr);

}  // namespace lovar
