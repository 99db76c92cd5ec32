#include "HttpCompression.h"

#include "HttpText.h"

#include <zlib.h>
#include <zstd.h>

#include <memory>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace HttpCompression {

using HttpText::same;
using HttpText::trim;

bool accepts(std::string_view header, std::string_view coding)
{
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        const std::size_t semi = item.find(';');
        if (!same(trim(item.substr(0, semi)), coding))
            continue;
        if (semi == std::string_view::npos)
            return true;
        std::string params(item.substr(semi + 1));
        params.erase(std::remove_if(params.begin(), params.end(), [](char c) { return c == ' ' || c == '\t'; }),
                     params.end());
        if (params.rfind("q=", 0) != 0 && params.rfind("Q=", 0) != 0)
            return true;
        return std::strtod(params.c_str() + 2, nullptr) > 0.0;
    }
    return false;
}

Coding choose(std::string_view acceptEncoding, std::size_t size)
{
    if (size < kCompressFrom || acceptEncoding.empty())
        return Coding::Identity;
    if (accepts(acceptEncoding, "zstd"))
        return Coding::Zstd;
    if (accepts(acceptEncoding, "gzip"))
        return Coding::Gzip;
    return Coding::Identity;
}

const char *name(Coding coding)
{
    switch (coding) {
    case Coding::Gzip:
        return "gzip";
    case Coding::Zstd:
        return "zstd";
    case Coding::Identity:
        break;
    }
    return "identity";
}

bool compress(Coding coding, const QByteArray &in, QByteArray &out)
{
    if (coding == Coding::Zstd) {
        out = zstdFrame(in);
        if (out.isEmpty())
            return false;
    } else if (coding == Coding::Gzip) {
        z_stream z{};
        if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        out.resize(qsizetype(deflateBound(&z, uLong(in.size()))));
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        const int r = deflate(&z, Z_FINISH);
        out.resize(qsizetype(z.total_out));
        deflateEnd(&z);
        if (r != Z_STREAM_END)
            return false;
    } else {
        return false;
    }
    return out.size() < in.size();
}

QByteArray zstdFrame(QByteArrayView in)
{
    QByteArray out(qsizetype(ZSTD_compressBound(std::size_t(in.size()))), Qt::Uninitialized);
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> cctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!cctx)
        return {};
    ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, 1);
    // A large answer is packed once and then shared: worth a second thread
    // (a library built without threads refuses this, and one is used).
    if (in.size() >= 4 * 1024 * 1024)
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_nbWorkers, 2);
    const std::size_t n = ZSTD_compress2(cctx.get(), out.data(), std::size_t(out.size()), in.data(), std::size_t(in.size()));
    if (ZSTD_isError(n))
        return {};
    out.resize(qsizetype(n));
    out.squeeze();
    return out;
}

bool isReadable(std::string_view contentEncoding)
{
    const std::string_view e = trim(contentEncoding);
    return e.empty() || same(e, "identity") || same(e, "gzip") || same(e, "deflate");
}

Inflated inflate(std::string_view contentEncoding, std::string_view in, std::size_t limit, QByteArray &out,
                 const std::function<bool(long long)> &grow)
{
    const std::string_view e = trim(contentEncoding);
    out.clear();
    if (e.empty() || same(e, "identity")) {
        if (in.size() > limit)
            return Inflated::TooLarge;
        if (grow && !grow((long long)in.size()))
            return Inflated::NoMemory;
        out = QByteArray(in.data(), qsizetype(in.size()));
        return Inflated::Ok;
    }
    if (!same(e, "gzip") && !same(e, "deflate"))
        return Inflated::Bad;
    z_stream z{};
    if (inflateInit2(&z, same(e, "gzip") ? 15 + 16 : 15) != Z_OK)
        return Inflated::Bad;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    constexpr std::size_t kStep = 256 * 1024;
    Inflated result = Inflated::Ok;
    while (true) {
        const std::size_t have = std::size_t(out.size());
        // One byte beyond the limit tells an exact fit from an overflow.
        const std::size_t step = std::min(kStep, limit + 1 - have);
        if (grow && !grow((long long)step)) {
            result = Inflated::NoMemory;
            break;
        }
        out.resize(qsizetype(have + step));
        z.next_out = reinterpret_cast<Bytef *>(out.data() + have);
        z.avail_out = uInt(step);
        const int r = ::inflate(&z, Z_NO_FLUSH);
        out.resize(qsizetype(have + step - z.avail_out));
        if (grow)
            grow(-(long long)z.avail_out); // what was not used
        if (std::size_t(out.size()) > limit) {
            result = Inflated::TooLarge;
            break;
        }
        if (r == Z_STREAM_END) {
            // Bytes after the end of the stream are not part of any body.
            if (z.avail_in != 0)
                result = Inflated::Bad;
            break;
        }
        if (r != Z_OK && !(r == Z_BUF_ERROR && z.avail_out == 0)) {
            result = Inflated::Bad;
            break;
        }
        if (z.avail_in == 0 && z.avail_out != 0) {
            result = Inflated::Bad; // the stream ended early
            break;
        }
    }
    inflateEnd(&z);
    if (result != Inflated::Ok)
        out = QByteArray();
    return result;
}

} // namespace HttpCompression
