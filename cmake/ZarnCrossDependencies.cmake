# Dependencies of a cross build (Windows): SQLite compiled from its
# amalgamation (scripts/fetch-sqlite-source puts it in ZARN_SQLITE_AMALGAMATION)
# and the header-only utfcpp of the build machine.
if(NOT EXISTS ${ZARN_SQLITE_AMALGAMATION}/sqlite3.c)
  message(FATAL_ERROR "No sqlite3.c in ZARN_SQLITE_AMALGAMATION='${ZARN_SQLITE_AMALGAMATION}'; "
                      "run scripts/fetch-sqlite-source first")
endif()
add_library(zarn_sqlite3 STATIC ${ZARN_SQLITE_AMALGAMATION}/sqlite3.c)
target_include_directories(zarn_sqlite3 SYSTEM PUBLIC ${ZARN_SQLITE_AMALGAMATION})
# Thread-safe, since pooled connections move between threads; no extension
# loading. Everything else keeps SQLite's defaults, as in the Linux build.
target_compile_definitions(zarn_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
# The amalgamation is third-party code: build it without the project's warnings.
target_compile_options(zarn_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS zarn_sqlite3)

# utfcpp is headers only, so the build machine's copy serves any target.
find_path(ZARN_UTF8CPP_INCLUDE_DIR utf8.h PATHS /usr/include/utf8cpp /usr/local/include/utf8cpp
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(utf8cpp INTERFACE IMPORTED)
target_include_directories(utf8cpp SYSTEM INTERFACE ${ZARN_UTF8CPP_INCLUDE_DIR})
