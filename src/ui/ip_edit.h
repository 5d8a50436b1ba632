// Typing into the receiving station's address edit (EditIPPCO on the page "GPRS"): a plain line
// edit showing "192.168.1.10", with a key filter that makes the usual ways of typing an address
// give that address. A digit typed at the start of a number replaces the number (so Home and
// "10.0.0.1" over an old address gives 10.0.0.1, not the old digits behind the new ones); "."
// ends the number at the cursor and moves to the start of the next one; "," is taken as "." (the
// keypad's decimal key on a Russian layout). Other characters are dropped; backspace, Delete,
// the arrows, selections and the Ctrl shortcuts work as in any edit.
//
// Threads: window thread only.
#pragma once

#include <QString>

class QLineEdit;

namespace lovar {

// The key filter: key is the text of a character key. True when the key is done with (handled
// here or dropped), false when the edit should take it as usual.
bool IpEditKey(QLineEdit* edit, const QString& key);

}  // namespace lovar
