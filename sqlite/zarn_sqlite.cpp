// SQLite loadable extension libzarn_sqlite: the address parser as SQL
// functions.
//
//   .load libzarn_sqlite
//   SELECT zarn_parse('123 Main St. N');            -- JSON text of the fields
//   SELECT zarn_parse(address, 'canada') FROM t;    -- with a rule profile
//   SELECT zarn_street(address), zarn_unit(address) FROM t;   -- one per field
//   SELECT zarn_parse_result(address, 'canada', 1, 1) FROM t; -- + diagnostics, standard form
//
// The reference database is the library's default (zarn::ReferenceDatabasePath:
// $ZARN_DATABASE when set, else the bundled file found from where this
// extension is installed); zarn_database() tells which. Each connection
// keeps one parser per profile.
//
// None of the functions is SQLITE_DETERMINISTIC: the reference database may
// be replaced or edited between statements, and then the same address parses
// differently, so SQLite must not cache or index their answers. They have no
// side effects and never write anything, hence SQLITE_INNOCUOUS.
#include <sqlite3ext.h>

#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zarn/encode.hpp"
#include "zarn/zarn.hpp"

SQLITE_EXTENSION_INIT1

namespace {

// Parsers of one connection, one per profile, all on the same database.
// Shared by every function the extension registers on the connection, each
// registration holding one reference: replacing or dropping any one of the
// functions leaves the others working, and the last one dropped (or the
// connection closing) frees it.
struct Connection {
  std::string database;
  std::array<std::optional<zarn::ZarnAddress>, 2> parsers;
  std::atomic<size_t> references{1};
  // The text of the last answer, kept so that a stream of rows reuses its
  // room (SQLite copies the answer out; calls on one connection do not
  // overlap).
  std::string out;

  const zarn::ZarnAddress& Parser(zarn::Profile profile) {
    auto& slot = parsers[static_cast<int>(profile)];
    if (!slot) slot.emplace(database, zarn::ParseOptions{.profile = profile});
    return *slot;
  }
};

// What a function answers: JSON of every field, JSON of the whole result
// (with the diagnostics and the standard form when its arguments ask), or
// one field (its index).
constexpr int kAllFields = -1;
constexpr int kWholeResult = -2;

// zarn_parse(address [, profile]), zarn_parse_result(address [, profile [,
// flags [, standard]]]) and zarn_<field>(address [, profile]).
template <int kAnswer>
void ParseFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) noexcept {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  zarn::Profile profile = zarn::Profile::kCanada;
  if (argc > 1) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
    const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    if (name == nullptr) {
      sqlite3_result_error_nomem(ctx);
      return;
    }
    std::string_view view(name, static_cast<size_t>(sqlite3_value_bytes(argv[1])));
    if (!zarn::ProfileFromName(view, &profile)) {
      char* message = sqlite3_mprintf("zarn: unknown profile '%q' (use %s)", name,
                                      zarn::ProfileChoices().c_str());
      if (message == nullptr) {
        sqlite3_result_error_nomem(ctx);
        return;
      }
      sqlite3_result_error(ctx, message, -1);
      sqlite3_free(message);
      return;
    }
  }
  // Text as UTF-8; a blob or number is read as its bytes / its text form.
  const auto* text = static_cast<const char*>(sqlite3_value_type(argv[0]) == SQLITE_BLOB
                                                  ? sqlite3_value_blob(argv[0])
                                                  : sqlite3_value_text(argv[0]));
  int size = sqlite3_value_bytes(argv[0]);
  if (text == nullptr && size > 0) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  std::string_view address(text == nullptr ? "" : text, static_cast<size_t>(size));
  try {
    auto* connection = static_cast<Connection*>(sqlite3_user_data(ctx));
    zarn::OutputOptions output;
    output.profile = profile;
    if (kAnswer == kWholeResult) {
      output.diagnostics = argc > 2 && sqlite3_value_int(argv[2]) != 0;
      output.standard = argc > 3 && sqlite3_value_int(argv[3]) != 0;
    }
    zarn::ParseResult result = connection->Parser(profile).ParseResultOf(address, output);
    if (!result.ok()) throw zarn::Error(result.error_number, result.error_message);
    std::string& out = connection->out;
    out.clear();
    if (kAnswer == kWholeResult) {
      zarn::AppendResultJson(out, result, output);
    } else if (kAnswer == kAllFields) {
      // The fields the profile fills, as the encoder writes them.
      out.push_back('{');
      for (size_t f = 0; f < zarn::kFieldCount; ++f) {
        if (!zarn::Fields()[f].FilledBy(profile)) continue;
        if (out.size() > 1) out.push_back(',');
        zarn::AppendJsonString(out, zarn::Fields()[f].name);
        out.push_back(':');
        zarn::AppendJsonString(out, result.parts.Field(f));
      }
      out.push_back('}');
    } else {
      const std::string& field = result.parts.Field(static_cast<size_t>(kAnswer));
      sqlite3_result_text64(ctx, field.data(), field.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      return;
    }
    sqlite3_result_text64(ctx, out.data(), out.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    // A rare long answer does not keep its room for good.
    if (out.capacity() > 4096) std::string().swap(out);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
  } catch (const zarn::Error& e) {
    if (e.Number() == zarn::kErrorOutOfMemory) {
      sqlite3_result_error_nomem(ctx);
      return;
    }
    std::string message = std::string("zarn: ") + e.what();
    sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
  } catch (const std::exception& e) {
    std::string message = std::string("zarn: ") + e.what();
    sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
  } catch (...) {
    sqlite3_result_error(ctx, "zarn: unexpected failure", -1);
  }
}

void DatabaseFunction(sqlite3_context* ctx, int, sqlite3_value**) noexcept {
  const std::string& path = static_cast<Connection*>(sqlite3_user_data(ctx))->database;
  sqlite3_result_text64(ctx, path.data(), path.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void VersionFunction(sqlite3_context* ctx, int, sqlite3_value**) noexcept {
  sqlite3_result_text(ctx, zarn::Version(), -1, SQLITE_STATIC);
}

// Drops one reference (a registration's, or the initialisation's own).
void ReleaseConnection(void* p) noexcept {
  auto* connection = static_cast<Connection*>(p);
  if (connection->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete connection;
}

using Function = void (*)(sqlite3_context*, int, sqlite3_value**);

// ParseFunction<i> for every field index i.
template <size_t... kIndex>
constexpr std::array<Function, sizeof...(kIndex)> FieldFunctions(std::index_sequence<kIndex...>) {
  return {ParseFunction<static_cast<int>(kIndex)>...};
}
constexpr auto kFieldFunctions = FieldFunctions(std::make_index_sequence<zarn::kFieldCount>());

}  // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_zarnsqlite_init(
    sqlite3* db, char** error_message, const sqlite3_api_routines* api) noexcept {
  SQLITE_EXTENSION_INIT2(api);
  Connection* connection = nullptr;
  try {
    connection = new Connection{zarn::ReferenceDatabasePath(), {}, {1}, {}};
  } catch (...) {
    delete connection;
    return SQLITE_NOMEM;
  }
  // One Connection shared by every function; each registration takes a
  // reference, which SQLite gives back through ReleaseConnection when the
  // function is replaced or dropped, when the handle closes, or at once when
  // the registration fails.
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  struct Entry {
    std::string name;
    int args;
    int flags;
    Function fn;
  };
  std::vector<Entry> entries;
  try {
    entries = {
        {"zarn_parse", 1, kFlags, ParseFunction<kAllFields>},
        {"zarn_parse", 2, kFlags, ParseFunction<kAllFields>},
        {"zarn_parse_result", 1, kFlags, ParseFunction<kWholeResult>},
        {"zarn_parse_result", 2, kFlags, ParseFunction<kWholeResult>},
        {"zarn_parse_result", 3, kFlags, ParseFunction<kWholeResult>},
        {"zarn_parse_result", 4, kFlags, ParseFunction<kWholeResult>},
        {"zarn_database", 0, kFlags, DatabaseFunction},
        {"zarn_version", 0, kFlags | SQLITE_DETERMINISTIC, VersionFunction},
    };
    // zarn_<field>(address [, profile]) for every output field.
    for (size_t f = 0; f < zarn::kFieldCount; ++f) {
      for (int args : {1, 2}) {
        entries.push_back(
            {std::string("zarn_") + zarn::Fields()[f].name, args, kFlags, kFieldFunctions[f]});
      }
    }
  } catch (...) {
    ReleaseConnection(connection);
    return SQLITE_NOMEM;
  }
  int rc = SQLITE_OK;
  for (const Entry& e : entries) {
    connection->references.fetch_add(1, std::memory_order_relaxed);
    rc = sqlite3_create_function_v2(db, e.name.c_str(), e.args, e.flags, connection, e.fn, nullptr,
                                    nullptr, ReleaseConnection);
    if (rc != SQLITE_OK) {
      if (error_message) {
        *error_message = sqlite3_mprintf("zarn: cannot register %s", e.name.c_str());
      }
      break;
    }
  }
  ReleaseConnection(connection);
  return rc;
}
