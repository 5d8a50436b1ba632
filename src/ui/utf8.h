// The core's texts are UTF-8 (std::string, std::string_view); the windows' are QString.
#pragma once

#include <QString>
#include <string_view>

namespace lovar {

inline QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace lovar
