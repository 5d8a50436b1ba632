// "О программе": the program's name, version and the day it was built.
#pragma once

#include <QString>

namespace lovar {

inline constexpr char kAboutCaption[] = "О программе";

// E.g. "Ловар — программирование УО\nВерсия 0.1.0\nСборка от 08.12.2026".
QString AboutText();

}  // namespace lovar
