#include "http/urlkey.h"

#include "util/shorttext.h"

namespace quorbit {

std::string UrlKey(const WebUrl& url) {
  std::string key(SchemePrefix(url.secure));
  for (char c : url.host) key += LowerLetter(c);
  return key + ":" + std::to_string(url.port) + url.path;
}

}  // namespace quorbit
