// The image file: every token's stored state, so a provisioned token
// survives restarts of the daemon.
//
// Layout: "MRTKIMG1", version (u32 = 1), token count (u32), then each token
// as Token::Save writes it, in a blob (u32 length + bytes).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tokensim/core/simulator.h"

namespace merro::tokensim {
namespace {

constexpr char kMagic[8] = {'M', 'R', 'T', 'K', 'I', 'M', 'G', '1'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kMaxTokens = 16;
constexpr size_t kMaxTokenImage = 8 * 1024 * 1024;

}  // namespace

bool LoadImage(const std::string& path, std::vector<std::unique_ptr<Token>>* pTokens,
               std::string* pError) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *pError = "cannot read the image file " + path;
    return false;
  }
  const merro::sim::Bytes data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  merro::sim::ByteReader in(data);
  std::uint8_t magic[sizeof kMagic];
  std::uint32_t version = 0, count = 0;
  if (!in.Raw(sizeof magic, magic) || !std::equal(magic, magic + sizeof magic, kMagic) ||
      !in.U32(&version) || version != kVersion || !in.U32(&count) || count > kMaxTokens) {
    *pError = "not a token image (or an unknown version): " + path;
    return false;
  }
  std::vector<std::unique_ptr<Token>> tokens;
  for (std::uint32_t i = 0; i < count; ++i) {
    merro::sim::Bytes blob;
    if (!in.Blob(&blob, kMaxTokenImage)) {
      *pError = "the image file is cut short: " + path;
      return false;
    }
    merro::sim::ByteReader tokenIn(blob);
    auto token = Token::Load(tokenIn);
    if (!token || !tokenIn.AtEnd()) {
      *pError = "token " + std::to_string(i) + " of the image file is malformed: " + path;
      return false;
    }
    tokens.push_back(std::move(token));
  }
  if (!in.AtEnd()) {
    *pError = "trailing bytes in the image file: " + path;
    return false;
  }
  *pTokens = std::move(tokens);
  return true;
}

bool WriteImage(const std::string& path, const std::vector<const Token*>& tokens,
                std::string* pError) {
  merro::sim::ByteWriter out;
  out.Raw(reinterpret_cast<const std::uint8_t*>(kMagic), sizeof kMagic);
  out.U32(kVersion);
  out.U32(static_cast<std::uint32_t>(tokens.size()));
  for (const Token* token : tokens) {
    merro::sim::ByteWriter one;
    token->Save(one);
    out.Blob(one.Out());
  }
  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.Out().data()),
               static_cast<std::streamsize>(out.Out().size()));
    if (!file.flush()) {
      *pError = "cannot write " + temporary;
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    *pError = "cannot replace " + path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace merro::tokensim
