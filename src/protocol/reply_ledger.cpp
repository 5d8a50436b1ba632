#include "protocol/reply_ledger.h"

namespace lovar {

void ReplyLedger::Owe(uint8_t sequence, int answers) {
  if (answers <= 0) return;
  Number& n = numbers_[sequence];
  n.owed += answers;
  n.age = 0;
}

void ReplyLedger::Sent(uint8_t sequence, int offset) {
  if (outstanding_.valid && outstanding_.sequence == sequence && outstanding_.offset == offset) {
    ++outstanding_.sends;
    return;
  }
  Abandon();
  outstanding_ = {true, sequence, offset, 1};
}

void ReplyLedger::Abandon() {
  if (!outstanding_.valid) return;
  Owe(outstanding_.sequence, outstanding_.sends);
  outstanding_.valid = false;
}

bool ReplyLedger::Accepted(uint8_t sequence, ReadPlace place) {
  Number& n = numbers_[sequence];
  const bool suspect = n.owed > 0;
  if (suspect && ++n.age > kForgiveAfter) n.owed = n.age = 0;
  if (outstanding_.valid && outstanding_.sequence == sequence) {
    // Either this reply or another answer to the same request may still come for the others;
    // and if this one was an older request's, the true answer still comes and pays for it.
    const int others = outstanding_.sends - 1;
    outstanding_.valid = false;
    Owe(sequence, others);
  } else if (n.owed > 0) {
    --n.owed;  // a request given up, answered after all
  }
  n.last = place;
  n.step = step_;
  return suspect;
}

std::optional<ReadPlace> ReplyLedger::Stray(uint8_t sequence) {
  Number& n = numbers_[sequence];
  if (n.owed > 0) --n.owed;
  if (n.step != step_) return std::nullopt;
  return n.last;
}

}  // namespace lovar
