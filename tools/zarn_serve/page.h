// The page of zarn-serve (GET /): a self-contained HTML page to try
// addresses and files in a browser, which talks only to this service.
#ifndef ZARN_TOOLS_ZARN_SERVE_PAGE_H_
#define ZARN_TOOLS_ZARN_SERVE_PAGE_H_

#include <string>
#include <string_view>

namespace zarn_serve {

// "fr" when the Accept-Language header prefers French to English, else "en".
std::string PageLanguage(std::string_view accept_language);

// The page, its strings first shown in `language` ("en" or "fr").
std::string PageHtml(std::string_view language);

// The Content-Security-Policy the page is served with: nothing is loaded or
// sent anywhere but this service.
inline constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data: blob:; form-action 'none'; base-uri 'none'; "
    "frame-ancestors 'none'";

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_PAGE_H_
