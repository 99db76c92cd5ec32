#pragma once

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <string_view>

// Reply compression and request inflation. Replies are compressed with a
// codec and level that cost less than sending the bytes: zstd when the client
// takes it, else gzip at its fastest level; small replies go as they are.
namespace HttpCompression {

enum class Coding { Identity, Gzip, Zstd };

constexpr std::size_t kCompressFrom = 1024;

// Whether an Accept-Encoding value offers `coding` (a q of 0 refuses it).
bool accepts(std::string_view header, std::string_view coding);
// The coding for a reply of `size` bytes to a client that sent `acceptEncoding`.
Coding choose(std::string_view acceptEncoding, std::size_t size);
const char *name(Coding coding);
// False when the coding failed or saved nothing: the reply then goes as it is.
bool compress(Coding coding, const QByteArray &in, QByteArray &out);

// `in` as one zstd frame at the fastest level, even when that saves nothing
// (frames one after another decode as their texts one after another);
// empty when it fails.
QByteArray zstdFrame(QByteArrayView in);

// A request's Content-Encoding this server reads: none, identity, gzip, deflate.
bool isReadable(std::string_view contentEncoding);

enum class Inflated { Ok, TooLarge, Bad, NoMemory };
// Inflates `in` into `out`, never holding more than `limit` bytes of output.
// `grow(n)` is asked before the output grows by n bytes (false stops with
// NoMemory); a negative n gives back what was asked for and not used.
Inflated inflate(std::string_view contentEncoding, std::string_view in, std::size_t limit, QByteArray &out,
                 const std::function<bool(long long)> &grow = {});

} // namespace HttpCompression
