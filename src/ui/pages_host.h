// The pages of PageControl1 as one: each registered page (page.h) built on its tab sheet inside
// a frameless scroll area, shown from the image in the display routine's order, committed,
// told of the model's set-up and of key learning. The main window holds one.
//
// Threads: window thread only.
#pragma once

#include <QTabWidget>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "model/config_image.h"
#include "page.h"

namespace lovar {

class PagesHost {
 public:
  // Builds every registered page on its tab sheet of tabs.
  PagesHost(PageHost& host, QTabWidget& tabs);

  Page* Find(std::string_view tab_sheet) const;
  // The pages filled from the image, in the display routine's order (none for an unknown
  // model).
  void Display(const ConfigImage& image, int model, int firmware) const;
  // Stores what every page shows but has not stored yet.
  void Commit() const;

  // Calls f for every page.
  template <typename F>
  void ForEach(F f) const {
    for (const auto& [name, page] : pages_) f(*page);
  }

 private:
  std::map<std::string, std::unique_ptr<Page>, std::less<>> pages_;
};

}  // namespace lovar
