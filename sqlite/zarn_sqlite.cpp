// SQLite loadable extension libzarn_sqlite: the address parser as SQL
// functions.
//
//   .load libzarn_sqlite
//   SELECT zarn_parse('123 Main St. N');            -- JSON text of the five parts
//   SELECT zarn_parse(address, 'canada') FROM t;    -- with a rule profile
//   SELECT zarn_street(address), zarn_unit(address) FROM t;
//
// The reference database is $ZARN_DATABASE when set, else the bundled file
// installed beside the extension (<prefix>/share/zarn/qordatavb.DAT), else
// the library's own default; zarn_database() tells which. Each connection
// keeps one parser per profile.
//
// None of the functions is SQLITE_DETERMINISTIC: the reference database may
// be replaced or edited between statements, and then the same address parses
// differently, so SQLite must not cache or index their answers. They have no
// side effects and never write anything, hence SQLITE_INNOCUOUS.
#include <dlfcn.h>
#include <sqlite3ext.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

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

  const zarn::ZarnAddress& Parser(zarn::Profile profile) {
    auto& slot = parsers[static_cast<int>(profile)];
    if (!slot) slot.emplace(database, zarn::ParseOptions{.profile = profile});
    return *slot;
  }
};

// The bundled database beside this shared object: <libdir>/<relative path>.
std::string BundledDatabase() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&BundledDatabase), &info) != 0 && info.dli_fname != nullptr) {
    std::error_code ec;
    std::filesystem::path candidate =
        std::filesystem::path(info.dli_fname).parent_path() / ZARN_SQLITE_DATABASE_RELATIVE;
    if (std::filesystem::exists(candidate, ec)) return candidate.lexically_normal().string();
  }
  return zarn::ReferenceDatabasePath();
}

std::string DefaultDatabase() {
  const char* env = std::getenv("ZARN_DATABASE");
  if (env != nullptr && *env != '\0') return env;
  return BundledDatabase();
}

enum class Part { kAll, kStreetNumber, kStreet, kStreetType, kDirection, kUnit };

template <Part kPart>
void ParseFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) noexcept {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  zarn::Profile profile = zarn::Profile::kSpecified;
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
      char* message =
          sqlite3_mprintf("zarn: unknown profile '%q' (use 'specified' or 'canada')", name);
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
    zarn::AddressParts parts = connection->Parser(profile).Parse(address);
    std::string out;
    switch (kPart) {
      case Part::kAll:
        out = nlohmann::ordered_json{{"street_number", parts.street_number},
                                     {"street", parts.street},
                                     {"street_type", parts.street_type},
                                     {"direction", parts.direction},
                                     {"unit", parts.unit}}
                  .dump();
        break;
      case Part::kStreetNumber: out = std::move(parts.street_number); break;
      case Part::kStreet: out = std::move(parts.street); break;
      case Part::kStreetType: out = std::move(parts.street_type); break;
      case Part::kDirection: out = std::move(parts.direction); break;
      case Part::kUnit: out = std::move(parts.unit); break;
    }
    sqlite3_result_text64(ctx, out.data(), out.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
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

}  // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_zarnsqlite_init(
    sqlite3* db, char** error_message, const sqlite3_api_routines* api) noexcept {
  SQLITE_EXTENSION_INIT2(api);
  Connection* connection = nullptr;
  try {
    connection = new Connection{DefaultDatabase(), {}};
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
    const char* name;
    int args;
    int flags;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  const Entry entries[] = {
      {"zarn_parse", 1, kFlags, ParseFunction<Part::kAll>},
      {"zarn_parse", 2, kFlags, ParseFunction<Part::kAll>},
      {"zarn_street_number", 1, kFlags, ParseFunction<Part::kStreetNumber>},
      {"zarn_street_number", 2, kFlags, ParseFunction<Part::kStreetNumber>},
      {"zarn_street", 1, kFlags, ParseFunction<Part::kStreet>},
      {"zarn_street", 2, kFlags, ParseFunction<Part::kStreet>},
      {"zarn_street_type", 1, kFlags, ParseFunction<Part::kStreetType>},
      {"zarn_street_type", 2, kFlags, ParseFunction<Part::kStreetType>},
      {"zarn_direction", 1, kFlags, ParseFunction<Part::kDirection>},
      {"zarn_direction", 2, kFlags, ParseFunction<Part::kDirection>},
      {"zarn_unit", 1, kFlags, ParseFunction<Part::kUnit>},
      {"zarn_unit", 2, kFlags, ParseFunction<Part::kUnit>},
      {"zarn_database", 0, kFlags, DatabaseFunction},
      {"zarn_version", 0, kFlags | SQLITE_DETERMINISTIC, VersionFunction},
  };
  int rc = SQLITE_OK;
  for (const Entry& e : entries) {
    connection->references.fetch_add(1, std::memory_order_relaxed);
    rc = sqlite3_create_function_v2(db, e.name, e.args, e.flags, connection, e.fn, nullptr, nullptr,
                                    ReleaseConnection);
    if (rc != SQLITE_OK) {
      if (error_message) *error_message = sqlite3_mprintf("zarn: cannot register %s", e.name);
      break;
    }
  }
  ReleaseConnection(connection);
  return rc;
}
