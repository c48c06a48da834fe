// Access to the reference database: street-type words and their alternate
// forms, and alternate forms of addresses with their delivery form.
//
// The file is opened read-only and never written. Connections are pooled and
// reused between calls; before each call (or batch) the file's identity and
// SQLite's data version are checked, so a file that was deleted, replaced or
// edited is seen at once. Every look-up binds its key as a parameter.
#ifndef ZARN_REFDB_REFERENCE_DATABASE_H_
#define ZARN_REFDB_REFERENCE_DATABASE_H_

#include "refdb/pool.h"

#endif  // ZARN_REFDB_REFERENCE_DATABASE_H_
