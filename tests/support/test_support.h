// Helpers shared by the tests: temporary directories, fixture databases
// built from SQL text, and segment tables written in their dump format.
#ifndef ZARN_TESTS_SUPPORT_TEST_SUPPORT_H_
#define ZARN_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "segments/segment_table.h"

namespace zarn::testing {

// The bundled reference database of the build tree.
std::string BundledDatabase();
// A file of the test tree, by path relative to tests/.
std::string TestFile(std::string_view relative);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Creates the database `path` by running `sql` (statements separated by
// ";"). Fails the test on any error.
void MakeDatabase(const std::string& path, std::string_view sql);
// Runs `sql` on an existing database file, waiting for readers' locks.
void ExecSql(const std::string& path, std::string_view sql);
// The schema of the bundled database plus a few street types: "Avenue",
// "Street", "rue", "Boulevard", "Mall", "Highway", "Drive", and the
// alternates St->Street, Ave->Avenue, Av->Avenue, Boul->Boulevard,
// Hwy->Highway, Dr->Drive.
std::string SmallReferenceSql();

// A table from its dump text: Kind:Class"text" records separated by spaces
// (see SegmentTable::Dump). Len is set to the text's length, as if freshly
// tokenised.
internal::SegmentTable TableFromDump(std::string_view dump);

std::u16string U16(std::string_view utf8);

}  // namespace zarn::testing

#endif  // ZARN_TESTS_SUPPORT_TEST_SUPPORT_H_

namespace zarn::testing {

// One row of a pass test: the table before and after, as dumps.
struct PassCase {
  const char* before;
  const char* after;
};

// Runs `pass` on each table and compares the dump afterwards.
template <typename Pass>
void ExpectPassTable(Pass pass, std::initializer_list<PassCase> cases) {
  for (const PassCase& c : cases) {
    internal::SegmentTable table = TableFromDump(c.before);
    pass(table);
    EXPECT_EQ(table.Dump(), c.after) << "before: " << c.before;
  }
}

}  // namespace zarn::testing
