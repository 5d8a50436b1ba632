// The page registry behind LOVAR_REGISTER_PAGE.
#include <map>
#include <string>

#include "page.h"

namespace lovar {
namespace {
std::map<std::string, PageFactory, std::less<>>& Registry() {
  static std::map<std::string, PageFactory, std::less<>> registry;
  return registry;
}
}  // namespace

bool RegisterPage(std::string_view tab_sheet, PageFactory factory) {
  Registry()[std::string(tab_sheet)] = std::move(factory);
  return true;
}

PageFactory FindPageFactory(std::string_view tab_sheet) {
  auto it = Registry().find(tab_sheet);
  return it == Registry().end() ? PageFactory{} : it->second;
}

}  // namespace lovar
