// The text a registry's search looks through, made by the program (never the image's raw
// bytes): an image's named fields that say where a device is and whom it calls (telephone
// numbers, loop names, the object number, addresses), and a site card's fields. Both are folded
// as the words searched for are, so that either database only has to find a part of a text.
// User codes, key codes and passwords are never in it: a search must not reveal them.
//
// Threads: any; pure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/catalog.h"
#include "store/site_store.h"

namespace lovar {

// Lower case (Latin and Cyrillic, "ё" as "е"), blanks of any kind as one space.
std::string FoldedText(std::string_view utf8);

// The words of what was typed, folded; a word that is a telephone number as typed
// ("+7(912)345-67-89", "345-67") is its digits alone, as the texts keep numbers.
std::vector<std::string> SearchWords(std::string_view typed);

// The searchable text of an image of the model (its first image.size() bytes), one line per
// field; "" for an unknown model.
std::string ImageSearchText(int model, std::span<const uint8_t> image);
// The searchable text of a card: its name, customer, telephones (also as digits alone),
// contract and remark.
std::string CardSearchText(const SiteCard& card);

}  // namespace lovar
