// The segment table: the address cut into words, each with its kind and
// character class. Every pass of the parser reads and rewrites one table;
// each parse owns its table, so nothing here is shared between threads.
#ifndef ZARN_SEGMENTS_SEGMENT_TABLE_H_
#define ZARN_SEGMENTS_SEGMENT_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::internal {

// Kinds stored in Segment::type. 0..6 are the public kinds; the last two are
// private to the parser and are never given as an answer.
enum Kind : int16_t {
  kKindNone = 0,
  kKindStreetType = 1,
  kKindStreet = 2,
  kKindStreetNumber = 3,
  kKindUnit = 4,
  kKindDirection = 5,
  kKindDash = 6,
  kKindDesignator = 100,  // "Unit", "Apt", "Unit#", "Floor", "Flr" once applied
  kKindSuffixWord = 101,  // a lone "th" or "nd"
  // A word of a whole address's delivery form, municipality, province or
  // postal code (the canada profile keeps those parts apart from the table).
  kKindWhole = 102,
};

// Character classes stored in Segment::char_class.
enum CharClass : int16_t {
  kClassUnknown = 0,
  kClassAllDigits = 1,
  kClassNoDigits = 2,
  kClassMixed = 3,
};

struct Segment {
  int16_t type = kKindNone;
  int16_t start = 0;  // 1-based position in the text as tokenised
  int16_t end = 0;
  int16_t len = 0;  // characters as tokenised; the class reads this many
  int16_t char_class = kClassUnknown;
  // Whether the text may have changed since char_class was last set from it:
  // ClassifyChanged recomputes only the classes of marked segments. Every
  // writer of the text below marks the segment, so the mark cannot be
  // forgotten; `len` is only set where the text is cut into words.
  bool class_stale = true;
  // Whether the text holds a "#", set with char_class (and valid only while
  // class_stale is false), so that the passes removing a "#" can pass over
  // most words without reading them.
  bool holds_hash = false;

  const std::u16string& text() const { return text_; }
  // Replaces the text, marking the class for recomputation.
  void SetText(std::u16string_view text) {
    text_.assign(text.data(), text.size());
    class_stale = true;
  }
  // The text, to be changed in place: marks the class for recomputation.
  std::u16string& EditText() {
    class_stale = true;
    return text_;
  }
  // Sets the class and the "#" mark from the text and clears the mark.
  void SetClass(int16_t text_class, bool hash) {
    char_class = text_class;
    holds_hash = hash;
    class_stale = false;
  }

  // Empties the record but keeps the string's storage for reuse.
  void Reset() {
    text_.clear();
    type = kKindNone;
    start = end = len = 0;
    char_class = kClassUnknown;
    class_stale = true;
  }

 private:
  std::u16string text_;
};

// Records 0..Count(); record 0 is an empty placeholder that no pass writes.
class SegmentTable {
 public:
  SegmentTable() { records_.resize(1); }

  int16_t Count() const { return count_; }

  // Checked access: an index outside 0..Count() raises the
  // subscript-out-of-range error.
  Segment& At(int index);
  const Segment& At(int index) const;

  // Unchecked access for loops whose bounds are already 1..Count().
  Segment& operator[](int index) { return records_[static_cast<size_t>(index)]; }
  const Segment& operator[](int index) const { return records_[static_cast<size_t>(index)]; }

  // Discards every record and makes records 0..n, all reset. Storage of the
  // old records is reused.
  void Rebuild(int n);
  // Opens an empty record at `position` (1..Count()+1); later records move up.
  void InsertSegment(int position);
  // Removes record `index` (1..Count()); later records move down.
  void DeleteSegment(int index);
  // Removes every record i (1..Count()) for which drop(i) is true, in one
  // pass; the others keep their order. drop(i) is asked once for each i, in
  // increasing order, while records i..Count() are still where they were.
  template <typename Drop>
  void RemoveIf(Drop drop);

  // Shared queries; each returns 0 for "none".
  int16_t CountUnclassified() const;
  int16_t FindFirstDash() const;
  int16_t FindSecondDash() const;
  int16_t FindSegmentOfKind(int kind, int start_index) const;

  // One line: each record 1..Count() as Kind:Class"text", separated by spaces.
  // Kind names: None Type Street Number Unit Dir Dash Designator Suffix Whole;
  // class: ? D N M (unknown, all digits, no digits, mixed).
  std::string Dump() const;
  // As Dump(), with Start,End,Len after each record: Kind:Class"text"@1,3,3.
  std::string DumpWithPositions() const;

 private:
  // records_ may hold more records than Count()+1: the spare ones keep their
  // string storage for the next parse on this table.
  std::vector<Segment> records_;
  int16_t count_ = 0;
};

// "Overflow" and "Subscript out of range".
[[noreturn]] void ThrowOverflow();
[[noreturn]] void ThrowSubscriptOutOfRange(int index, int count);

// Converts a position or count to the parser's 16-bit range, raising the
// overflow error beyond 32767.
inline int16_t CheckedPosition(size_t value) {
  if (value > 32767) ThrowOverflow();
  return static_cast<int16_t>(value);
}

inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

inline int16_t SegmentTable::FindSegmentOfKind(int kind, int start_index) const {
  // Record 0 can match only kind None, and then "found at 0" reads as "none".
  for (int i = start_index < 0 ? 0 : start_index; i <= count_; ++i) {
    if (records_[static_cast<size_t>(i)].type == kind) return static_cast<int16_t>(i);
  }
  return 0;
}

template <typename Drop>
void SegmentTable::RemoveIf(Drop drop) {
  int out = 1;
  for (int i = 1; i <= count_; ++i) {
    if (drop(i)) continue;
    if (out != i) std::swap(records_[static_cast<size_t>(out)], records_[static_cast<size_t>(i)]);
    ++out;
  }
  count_ = static_cast<int16_t>(out - 1);
}

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_SEGMENT_TABLE_H_
