// Canada Post's standard form of an address, written from its five parts.
//
// This is an output stage over finished parts, not a parsing pass: it lives
// apart from the pipeline (src/component, src/rules) so that it reads only
// AddressParts and the street-type symbols, and can be tested without a
// database. Its table of symbols is made from the StreetTypeSymbol rows that
// refdb's Connection::StreetTypeSymbolRows() reads.
#ifndef ZARN_FORMAT_STANDARD_FORM_H_
#define ZARN_FORMAT_STANDARD_FORM_H_

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "refdb/connection.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

// One symbol of a street type: absent, Null in the database, or its text.
struct TypeSymbol {
  bool present = false;
  bool is_null = false;
  std::string text;
};

// The StreetTypeSymbol table, by street type.
struct StreetTypeSymbols {
  struct Entry {
    std::string delivery_form;  // as the table writes it
    TypeSymbol english;
    TypeSymbol french;
  };
  // Keyed by the delivery form in upper case (UpperCaseUtf8), so that any
  // letter case of the street type finds its row, accented letters included.
  std::unordered_map<std::string, Entry> by_type;

  // The entry of `street_type` in any letter case, or nullptr.
  const Entry* Find(std::string_view street_type) const;
};

// The table of the StreetTypeSymbol rows, in their order. A row without a
// street type or with a language other than en and fr stands for nothing
// the standard form writes and is passed over; the first row of a type and
// language wins, as everywhere in the database. Text that is not valid
// UTF-8 is left out (a symbol then counts as Null), so that the answers
// stay valid UTF-8.
StreetTypeSymbols MakeStreetTypeSymbols(const std::vector<SymbolRow>& rows);

// Throws zarn::Error (kErrorInvalidArgument) naming the first part that is
// not valid UTF-8.
void CheckPartsUtf8(const AddressParts& parts);

// The address the parts were read from, when the caller has it: it shows
// what the parts no longer do (where the street type stood, a direction word
// as typed). `is_type` tells whether a word of it is the parts' street type.
struct AddressHint {
  std::string_view address;  // valid UTF-8
  std::function<bool(std::string_view word)> is_type;
};

// The language `language` stands for with these parts: itself unless
// kDetect (see ZarnAddress::Standardize for the clues). `type` is the
// street type's entry, or nullptr; `hint` may be nullptr.
Language ChooseLanguage(const AddressParts& parts, const StreetTypeSymbols::Entry* type,
                        Language language, const AddressHint* hint = nullptr);

// The standard form of valid UTF-8 `parts` in `language`. `type` is the
// street type's entry, or nullptr when the table has none. Throws
// zarn::Error (kErrorInvalidUseOfNull) for a Null symbol that is needed.
StandardAddress FormatStandard(const AddressParts& parts, const StreetTypeSymbols::Entry* type,
                               Language language, const AddressHint* hint = nullptr);

}  // namespace zarn::internal

#endif  // ZARN_FORMAT_STANDARD_FORM_H_
