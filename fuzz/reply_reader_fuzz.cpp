// fuzz-link: sv_sync
// Plays arbitrary bytes as a server's side of the channel: replies, length lines and
// framed documents in turn, through the byte reader the client and the reference
// server use. The input is read twice, whole and cut into pieces of 1 to 64 bytes (the
// first byte chooses the size); both readings must give the same transcript, no line
// may hold an LF or pass the line limit, and nothing may crash or hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "sync/LineReader.h"
#include "sync/Reply.h"

namespace {

std::vector<std::string> Play(std::string_view bytes, std::size_t piece) {
  std::size_t pos = 0;
  sv::TLineReader reader([&](char* out, std::size_t cap) {
    const std::size_t n = std::min({piece, cap, bytes.size() - pos});
    std::memcpy(out, bytes.data() + pos, n);
    pos += n;
    return n;
  });
  const auto line = [&] {
    std::string l = reader.ReadLine();
    if (l.size() > sv::TLineReader::kMaxLineLength || l.find('\n') != std::string::npos) std::abort();
    return l;
  };
  std::vector<std::string> transcript;
  try {
    for (;;) {
      const sv::TReply reply = sv::ReadReply(line);
      transcript.push_back(reply.code);
      for (const std::string& t : reply.text) transcript.push_back(t);
      const std::int64_t length = sv::ParseFrameLength(line(), sv::kMaxDocumentLength);
      std::string document;
      reader.ReadExactly(static_cast<std::uint64_t>(length),
                         [&](const char* d, std::size_t n) { document.append(d, n); });
      if (document.size() != static_cast<std::size_t>(length)) std::abort();
      transcript.push_back(document);
    }
  } catch (const sv::Exception& e) {
    transcript.push_back("!" + e.Message());
  }
  return transcript;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (Play(bytes, bytes.size() + 1) != Play(bytes, piece)) std::abort();
  return 0;
}
