#include "zarn_serve/page.h"

#include <cctype>
#include <cstdlib>

namespace zarn_serve {

namespace {

constexpr std::string_view kPage =
#include "zarn_serve_page.inc"
    ;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The primary subtag of a language range, lower-cased ("fr-CA" gives "fr").
std::string Primary(std::string_view range) {
  std::string out;
  for (const char c : range) {
    if (c == '-' || c == '_') break;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

}  // namespace

std::string PageLanguage(std::string_view accept_language) {
  // Ranges with their weights ("fr-CA,fr;q=0.9,en;q=0.8"): the heavier of
  // English and French wins; on a tie, the first named; English when neither.
  double best_weight = 0;
  std::string best = "en";
  while (!accept_language.empty()) {
    const size_t comma = accept_language.find(',');
    std::string_view item = Trim(accept_language.substr(0, comma));
    accept_language.remove_prefix(comma == std::string_view::npos ? accept_language.size()
                                                                  : comma + 1);
    double weight = 1;
    const size_t semi = item.find(';');
    if (semi != std::string_view::npos) {
      const std::string_view param = Trim(item.substr(semi + 1));
      if (param.starts_with("q="))
        weight = std::strtod(std::string(param.substr(2)).c_str(), nullptr);
      item = Trim(item.substr(0, semi));
    }
    const std::string lang = Primary(item);
    if ((lang == "en" || lang == "fr") && weight > best_weight) {
      best_weight = weight;
      best = lang;
    }
  }
  return best;
}

std::string PageHtml(std::string_view language) {
  std::string page(kPage);
  const std::string_view mark = "{{LANG}}";
  const size_t at = page.find(mark);
  if (at != std::string::npos) page.replace(at, mark.size(), language == "fr" ? "fr" : "en");
  return page;
}

}  // namespace zarn_serve
