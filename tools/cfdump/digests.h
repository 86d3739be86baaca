// Digests of the saved files, computed while they are decoded, through
// OpenSSL's libcrypto: SHA-256 by default, MD5 and SHA-1 on request, for
// matching against lists of known files.

#ifndef CONTENTFILE_TOOLS_CFDUMP_DIGESTS_H_
#define CONTENTFILE_TOOLS_CFDUMP_DIGESTS_H_

#include <cstddef>
#include <memory>
#include <string>

namespace cfdump {

// Which digests a run computes.
struct DigestChoice {
  bool md5 = false;
  bool sha1 = false;
  bool sha256 = true;
};

// Reads a comma-separated list of "md5", "sha1" and "sha256". Returns false
// for an empty list or an unknown name.
bool ParseDigestChoice(const std::string& list, DigestChoice* choice);

// Lower-case hex digests; empty when not computed.
struct DigestValues {
  std::string md5;
  std::string sha1;
  std::string sha256;
};

class Hasher {
 public:
  explicit Hasher(const DigestChoice& choice);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  // False when libcrypto failed (out of memory): the values are then not
  // to be used.
  bool Update(const char* data, size_t size);
  bool Finish(DigestValues* values);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
  bool ok_ = true;
};

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_DIGESTS_H_
