#include "segments/segment_table.h"

#include <utf8.h>

#include <string>
#include <string_view>

#include "base/text.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

using namespace std::string_view_literals;

void ThrowOverflow() { throw Error(kErrorOverflow, "Overflow"); }

void ThrowSubscriptOutOfRange(int index, int count) {
  throw Error(kErrorSubscriptOutOfRange, "Subscript out of range (segment " +
                                             std::to_string(index) + " of 0.." +
                                             std::to_string(count) + ")");
}

Segment& SegmentTable::At(int index) {
  if (index < 0 || index > count_) ThrowSubscriptOutOfRange(index, count_);
  return records_[static_cast<size_t>(index)];
}

const Segment& SegmentTable::At(int index) const {
  if (index < 0 || index > count_) ThrowSubscriptOutOfRange(index, count_);
  return records_[static_cast<size_t>(index)];
}

void SegmentTable::Rebuild(int n) {
  if (n < 0 || n > 32767) ThrowOverflow();
  const size_t needed = static_cast<size_t>(n) + 1;
  if (records_.size() < needed) records_.resize(needed);
  for (size_t i = 0; i < needed; ++i) records_[i].Reset();
  count_ = static_cast<int16_t>(n);
}

void SegmentTable::InsertSegment(int position) {
  if (count_ == 32767) ThrowOverflow();
  if (position < 1 || position > count_ + 1) ThrowSubscriptOutOfRange(position, count_);
  const size_t new_count = static_cast<size_t>(count_) + 1;
  if (records_.size() < new_count + 1) records_.resize(new_count + 1);
  // Rotate the spare record at the end into place, then empty it.
  for (size_t i = new_count; i > static_cast<size_t>(position); --i) {
    std::swap(records_[i], records_[i - 1]);
  }
  records_[static_cast<size_t>(position)].Reset();
  count_ = static_cast<int16_t>(new_count);
}

void SegmentTable::DeleteSegment(int index) {
  if (index < 1 || index > count_) ThrowSubscriptOutOfRange(index, count_);
  RemoveIf([index](int i) { return i == index; });
}

int16_t SegmentTable::CountUnclassified() const {
  int16_t n = 0;
  for (int i = 1; i <= count_; ++i) {
    if (records_[static_cast<size_t>(i)].type == kKindNone) ++n;
  }
  return n;
}

namespace {

bool IsDashText(const std::u16string& text) { return text.size() == 1 && text[0] == u'-'; }

}  // namespace

int16_t SegmentTable::FindFirstDash() const {
  for (int i = 1; i <= count_; ++i) {
    if (IsDashText(records_[static_cast<size_t>(i)].text())) return static_cast<int16_t>(i);
  }
  return 0;
}

int16_t SegmentTable::FindSecondDash() const {
  bool seen = false;
  for (int i = 1; i <= count_; ++i) {
    if (IsDashText(records_[static_cast<size_t>(i)].text())) {
      if (seen) return static_cast<int16_t>(i);
      seen = true;
    }
  }
  return 0;
}

namespace {

const char* KindName(int16_t type) {
  switch (type) {
    case kKindNone: return "None";
    case kKindStreetType: return "Type";
    case kKindStreet: return "Street";
    case kKindStreetNumber: return "Number";
    case kKindUnit: return "Unit";
    case kKindDirection: return "Dir";
    case kKindDash: return "Dash";
    case kKindDesignator: return "Designator";
    case kKindSuffixWord: return "Suffix";
    case kKindWhole: return "Whole";
    default: return "Kind?";
  }
}

char ClassName(int16_t char_class) {
  switch (char_class) {
    case kClassAllDigits: return 'D';
    case kClassNoDigits: return 'N';
    case kClassMixed: return 'M';
    default: return '?';
  }
}

void AppendRecord(std::string& out, const Segment& s) {
  out += KindName(s.type);
  out += ':';
  out += ClassName(s.char_class);
  out += '"';
  for (char c : Utf16ToUtf8(s.text())) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

}  // namespace

std::string SegmentTable::Dump() const {
  std::string out;
  for (int i = 1; i <= count_; ++i) {
    if (i > 1) out += ' ';
    AppendRecord(out, records_[static_cast<size_t>(i)]);
  }
  return out;
}

std::string SegmentTable::DumpWithPositions() const {
  std::string out;
  for (int i = 1; i <= count_; ++i) {
    const Segment& s = records_[static_cast<size_t>(i)];
    if (i > 1) out += ' ';
    AppendRecord(out, s);
    out +=
        '@' + std::to_string(s.start) + ',' + std::to_string(s.end) + ',' + std::to_string(s.len);
  }
  return out;
}

}  // namespace zarn::internal
