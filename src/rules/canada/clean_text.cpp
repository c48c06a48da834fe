// Clean-up of the text before it is cut into words. Unlike the default
// clean-up it keeps hyphens inside words (Saint-Denis) and apostrophes
// (l'Église), and sets apart what separates words: commas (kept as words of
// their own, so that a later pass knows where one stood), "#", and
// brackets, quotes, colons, tabs and line breaks (spaces).
#include "rules/canada/canada.h"

namespace zarn::internal::canada {

void CleanTextCanada(std::u16string& text, std::u16string& scratch) {
  scratch.clear();
  scratch.reserve(text.size() + 8);
  for (char16_t c : text) {
    switch (c) {
      case u'.': break;  // "St." "boul." "No." "M.-Duplessis": the period goes
      case u',':
      case u';': scratch += u" , "; break;
      case u'#': scratch += u" # "; break;
      case u'*':
      case u':':  // "P.O. Box:118"
      case u'(':
      case u')':
      case u'"':
      case u'\t':
      case u'\r':
      case u'\n':
      case 0x00A0:  // no-break space
        scratch += u' ';
        break;
      default: scratch += c;
    }
  }
  size_t end = scratch.size();
  while (end > 0 && scratch[end - 1] == u' ') --end;
  scratch.resize(end);
  text.swap(scratch);
}

}  // namespace zarn::internal::canada
