// ZarnAddress::Standardize: the parts in Canada Post's standard form, with
// the street-type symbols of the reference database. The writing itself is
// in format/standard_form.cpp; this part reaches the database.
#include <utf8.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

#include "base/text.h"
#include "format/latin_case.h"
#include "format/standard_form.h"
#include "refdb/reference_database.h"
#include "zarn/zarn.hpp"

namespace zarn {

using internal::DatabaseSession;
using internal::StreetTypeSymbols;

const char* LanguageName(Language language) noexcept {
  switch (language) {
    case Language::kEnglish: return "en";
    case Language::kFrench: return "fr";
    case Language::kDetect: return "detect";
  }
  return "";
}

bool LanguageFromName(std::string_view name, Language* language) noexcept {
  // Lower-cased into a fixed buffer: no allocation, so nothing can throw.
  char buffer[8];
  if (name.size() > sizeof buffer) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    buffer[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view lower(buffer, name.size());
  Language found;
  if (lower == "en" || lower == "english") {
    found = Language::kEnglish;
  } else if (lower == "fr" || lower == "french") {
    found = Language::kFrench;
  } else if (lower == "detect") {
    found = Language::kDetect;
  } else {
    return false;
  }
  if (language != nullptr) *language = found;
  return true;
}

std::string StandardFlagNames(uint32_t flags) {
  static constexpr const char* kNames[] = {"type_without_symbol", "type_other_language",
                                           "direction_unknown"};
  return internal::JoinFlagNames(flags, kNames);
}

namespace {

// The symbols' entry of the parts' street type: the type itself, or the
// delivery form that the alternate street types give for it ("Ave").
const StreetTypeSymbols::Entry* FindType(internal::Connection& connection,
                                         const StreetTypeSymbols& symbols,
                                         const std::string& street_type) {
  if (street_type.empty()) return nullptr;
  if (const StreetTypeSymbols::Entry* found = symbols.Find(street_type)) return found;
  std::u16string token;
  internal::Utf8ToUtf16(street_type, token);
  const internal::DbText* desc = connection.AlternateStreetType(token);
  if (desc == nullptr || desc->is_null) return nullptr;
  return symbols.Find(internal::Utf16ToUtf8(desc->text));
}

// The standard form's table of the connection's StreetTypeSymbol rows, made
// once per reading of the rows and kept with the connection.
const StreetTypeSymbols& SymbolsOf(internal::Connection& connection) {
  const std::vector<internal::SymbolRow>& rows = connection.StreetTypeSymbolRows();
  std::shared_ptr<const void>& made = connection.MadeFromSymbolRows();
  if (!made)
    made = std::make_shared<const StreetTypeSymbols>(internal::MakeStreetTypeSymbols(rows));
  return *static_cast<const StreetTypeSymbols*>(made.get());
}

StandardAddress StandardizeIn(DatabaseSession& session, const AddressParts& parts,
                              Language language, std::string_view address) {
  return session.DropConnectionOnError([&]() -> StandardAddress {
    internal::CheckPartsUtf8(parts);
    DatabaseSession::PassScope pass(session);
    internal::Connection& connection = pass.connection();
    const StreetTypeSymbols& symbols = SymbolsOf(connection);
    const StreetTypeSymbols::Entry* type = FindType(connection, symbols, parts.street_type);
    // The address is only a clue: text that is not valid UTF-8 is ignored.
    if (language != Language::kDetect || address.empty() ||
        !utf8::is_valid(address.begin(), address.end())) {
      return internal::FormatStandard(parts, type, language);
    }
    const std::string type_upper = internal::UpperCaseUtf8(parts.street_type);
    const internal::AddressHint hint{
        address, [&](std::string_view word) {
          if (type_upper.empty()) return false;
          if (internal::UpperCaseUtf8(word) == type_upper) return true;
          return type != nullptr && FindType(connection, symbols, std::string(word)) == type;
        }};
    return internal::FormatStandard(parts, type, language, &hint);
  });
}

}  // namespace

StandardAddress ZarnAddress::Standardize(const AddressParts& parts, Language language) const {
  return Standardize(parts, language, std::string_view());
}

StandardAddress ZarnAddress::Standardize(const AddressParts& parts, Language language,
                                         std::string_view address) const {
  try {
    DatabaseSession session(*db_);
    return StandardizeIn(session, parts, language, address);
  } catch (const std::bad_alloc&) {
    throw Error(kErrorOutOfMemory, "Out of memory");
  }
}

void ZarnAddress::StandardizeBatch(std::span<const BatchResult> parsed, Language language,
                                   std::span<StandardResult> out,
                                   std::span<const std::string_view> addresses) const {
  const size_t n = std::min(parsed.size(), out.size());
  // A batch of one is a single call (ParseResultOf, the C interface).
  DatabaseSession session(*db_,
                          n == 1 ? DatabaseSession::Use::kOneCall : DatabaseSession::Use::kBatch);
  for (size_t i = 0; i < n; ++i) {
    StandardResult& r = out[i];
    try {
      if (!parsed[i].ok()) {
        r.standard = StandardAddress{};
        r.error_number = parsed[i].error_number;
        r.error_message = parsed[i].error_message;
        continue;
      }
      r.standard = StandardizeIn(session, parsed[i].parts, language,
                                 i < addresses.size() ? addresses[i] : std::string_view());
      r.error_number = 0;
      r.error_message.clear();
      continue;
    } catch (const Error& e) {
      r.error_number = e.Number();
      try {
        r.error_message = e.what();
      } catch (const std::bad_alloc&) {
        r.error_message.clear();
      }
    } catch (const std::bad_alloc&) {
      r.error_number = kErrorOutOfMemory;
      r.error_message.clear();
      try {
        r.error_message = "Out of memory";
      } catch (const std::bad_alloc&) {
      }
    }
    r.standard = StandardAddress{};
  }
}

}  // namespace zarn
