#include "tools/cfdump/digests.h"

#include <openssl/evp.h>

#include <sstream>

namespace cfdump {
namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

constexpr char kHexDigits[] = "0123456789abcdef";

Context Start(bool wanted, const EVP_MD* kind, bool* ok) {
  if (!wanted) return nullptr;
  Context context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), kind, nullptr) != 1) {
    *ok = false;
    return nullptr;
  }
  return context;
}

bool Feed(EVP_MD_CTX* context, const char* data, size_t size) {
  return context == nullptr || EVP_DigestUpdate(context, data, size) == 1;
}

bool End(EVP_MD_CTX* context, std::string* hex) {
  hex->clear();
  if (context == nullptr) return true;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) return false;
  for (unsigned int i = 0; i < length; ++i) {
    *hex += kHexDigits[digest[i] >> 4];
    *hex += kHexDigits[digest[i] & 0x0F];
  }
  return true;
}

}  // namespace

struct Hasher::Contexts {
  Context md5;
  Context sha1;
  Context sha256;
};

bool ParseDigestChoice(const std::string& list, DigestChoice* choice) {
  DigestChoice parsed{false, false, false};
  std::istringstream names(list);
  bool any = false;
  for (std::string name; std::getline(names, name, ',');) {
    if (name == "md5") {
      parsed.md5 = true;
    } else if (name == "sha1") {
      parsed.sha1 = true;
    } else if (name == "sha256") {
      parsed.sha256 = true;
    } else {
      return false;
    }
    any = true;
  }
  if (!any) return false;
  *choice = parsed;
  return true;
}

Hasher::Hasher(const DigestChoice& choice) : contexts_(new Contexts) {
  contexts_->md5 = Start(choice.md5, EVP_md5(), &ok_);
  contexts_->sha1 = Start(choice.sha1, EVP_sha1(), &ok_);
  contexts_->sha256 = Start(choice.sha256, EVP_sha256(), &ok_);
}

Hasher::~Hasher() = default;

bool Hasher::Update(const char* data, size_t size) {
  ok_ = ok_ && Feed(contexts_->md5.get(), data, size) &&
        Feed(contexts_->sha1.get(), data, size) &&
        Feed(contexts_->sha256.get(), data, size);
  return ok_;
}

bool Hasher::Finish(DigestValues* values) {
  ok_ = ok_ && End(contexts_->md5.get(), &values->md5) &&
        End(contexts_->sha1.get(), &values->sha1) &&
        End(contexts_->sha256.get(), &values->sha256);
  if (!ok_) *values = DigestValues();
  return ok_;
}

}  // namespace cfdump
