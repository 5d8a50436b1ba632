// How the main window is shaped for each device model after an identification: window and page
// sizes, shown and hidden pages and controls, the key grid, the password panel. Data only; the
// window applies it by object name. What the model itself has (its image length, loops, pages)
// is the domain's (model/model_setup.h); the bytes each control edits are the binding's
// (binding.h).
//
// Threads: constant tables.
#pragma once

#include <span>
#include <string_view>

namespace lovar {

enum class Visibility : unsigned char { Shown, Hidden };

struct ControlVisibility {
  std::string_view control;  // object name of a control, or of a tab page (its tab)
  Visibility visibility;
};

enum class KeyRowLabels : unsigned char {
  TwiceRow,     // 2, 4, ... 32 (model 250: keys share one numbering with the codes)
  RowMinusOne,  // 0 to 15
};

// One column of the set-up table. A value of 0 (or an empty list entry) leaves the window's
// item as it is.
struct WindowSetup {
  int model;                                      // 0: the window as created
  int page_control_height;                        // PageControl1
  int window_height;                              // the main window
  int page_control_top;                           // 0: unchanged
  int panel2_top;                                 // Panel2, the loop and output panel
  std::span<const ControlVisibility> visibility;  // in table order
  int key_grid_columns;                           // 0: unchanged
  int key_grid_width;                             // 0: unchanged
  KeyRowLabels key_row_labels;
  bool hide_password_panel;        // PanelPassword
  bool stored_password_from_edit;  // the gate takes EditPassword's current text
  // The tab sheets the display routine fills, in its order.
  std::span<const std::string_view> display_order;
  // The key grid shows every digit of a key, also of no key, and numbers its rows from 0 at
  // each display (251); otherwise no key is an empty cell.
  bool key_codes_whole;
  std::string_view rights_mark;  // a key's right in its cell: "+" (251) or " +"
};

// The service password: a read started from the search window's device list hides the pages
// behind the password gate with this password, the same for every device. Model 251's pages
// then open with it; model 250's display makes the device's first user code the password
// instead, and model 252 has no gate.
inline constexpr std::string_view kServicePassword = "40718";

// The window's set-up for a known model (each has its column); null for any other code.
const WindowSetup* FindWindowSetup(int model);
// Whether the model's pages wait behind the password gate: all but those whose set-up hides the
// password panel (252); an unknown model's too.
bool HasPasswordGate(int model);
// Whether the display makes the device's first user code the gate's password (250 and 252),
// rather than keeping the password typed (251, stored_password_from_edit); false when unknown.
bool PasswordFromCodes(int model);

// The main window as created, which a later identification of another model returns to
// before its own set-up is applied: every control of any set-up shown, key grid of 11
// columns and 405 pixels, window 634 high, PageControl1 685 high at top 52, Panel2 at 64.
const WindowSetup& CreationWindowSetup();

}  // namespace lovar
