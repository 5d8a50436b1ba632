// Which read replies may be late ones. A read reply carries nothing but the request's one-byte
// sequence number and its data, and the number comes round again every 256 requests (a model
// 251 read makes 512). A request sent twice (the no-answer question's resend) may be answered
// twice, the second answer possibly much later; a request given up may be answered after all.
// Such an answer, arriving when its number is in use again, would be taken for the data of
// another offset. The ledger counts, per number, the answers that may still come for requests
// that are over, and says when a reply is taken under a number that still owes some: its block
// is then suspect, to be read again until two reads agree (read_agreement.h). A reply that
// answers nothing (a duplicate, a late one) pays one, and makes the block taken last under its
// number suspect too.
//
// What is owed is forgiven once the number has come round kForgiveAfter more times without it:
// a reply that late is no reply (and a line that drops replies would otherwise make every block
// suspect for ever).
//
// Threads: one owner (the exchange engine, window thread). Pure.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace lovar {

struct ReadPlace {
  int from = 0;
  int end = 0;  // one past the last byte
  bool operator==(const ReadPlace&) const = default;
};

class ReplyLedger {
 public:
  static constexpr int kForgiveAfter = 3;

  // A read request goes out: again, when it has the number and offset of the one outstanding.
  void Sent(uint8_t sequence, int offset);
  // A read reply under `sequence` is taken as the answer to the request outstanding, its bytes
  // stored at `place`. True: the number still owes answers to requests before this one, so the
  // reply may be one of those (the block is suspect).
  bool Accepted(uint8_t sequence, ReadPlace place);
  // A read reply under `sequence` answers nothing. Returns the block taken last under the
  // number in the current step, which may have been this reply's place.
  std::optional<ReadPlace> Stray(uint8_t sequence);
  // The request outstanding is over unanswered (given up, or another exchange began): every
  // send of it may still be answered.
  void Abandon();
  // A new read step: blocks taken before it are no longer this step's.
  void NewStep() { ++step_; }

  int Owed(uint8_t sequence) const { return numbers_[sequence].owed; }

 private:
  struct Number {
    int owed = 0;   // answers that may still come for requests over
    int age = 0;    // times the number was taken since it began to owe
    int step = -1;  // the step of `last`
    ReadPlace last;
  };
  struct Outstanding {
    bool valid = false;
    uint8_t sequence = 0;
    int offset = 0;
    int sends = 0;
  };
  void Owe(uint8_t sequence, int answers);

  std::array<Number, 256> numbers_{};
  Outstanding outstanding_;
  int step_ = 0;
};

}  // namespace lovar
