// The OS-independent part of the port list: its order.
#include "serial/port_list.h"

#include <cctype>
#include <cstddef>

namespace lovar {

bool PortNameLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Compare the two numbers by value: skip leading zeros, then the longer one is larger.
      size_t ai = i, bj = j;
      while (ai < a.size() && a[ai] == '0') ++ai;
      while (bj < b.size() && b[bj] == '0') ++bj;
      size_t ae = ai, be = bj;
      while (ae < a.size() && digit(a[ae])) ++ae;
      while (be < b.size() && digit(b[be])) ++be;
      if (ae - ai != be - bj) return ae - ai < be - bj;
      const int cmp = a.compare(ai, ae - ai, b, bj, be - bj);
      if (cmp != 0) return cmp < 0;
      // Equal values: fewer leading zeros first, so the order stays total.
      if (ae - i != be - j) return ae - i < be - j;
      i = ae;
      j = be;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace lovar
