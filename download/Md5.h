#pragma once
// Streaming MD5 in the checksum text of the file list: 32 upper-case hexadecimal digits.
#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace download {

class CMd5 {
 public:
  CMd5();
  ~CMd5();
  CMd5(const CMd5&) = delete;
  CMd5& operator=(const CMd5&) = delete;
  // False when the digest could not be set up or fed; the object is then unusable.
  bool Ok() const { return m_ok; }
  bool Update(const void* data, std::size_t size);
  // The digest text; empty on failure. Ends the object's use.
  std::u16string Finish();

 private:
  struct Deleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, Deleter> m_context;
  bool m_ok = false;
};

} // namespace download
