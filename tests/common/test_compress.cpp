// QZ_Compress / QZ_Decompress: round trips, and damaged input that must be
// refused without reading or writing out of bounds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <zlib.h>

#include "common/compress.h"
#include "qzcom.h"

namespace {

std::string compressed(const std::string &data) {
    void *out = nullptr;
    QZ_DWORD length = 0;
    EXPECT_EQ(QZ_Compress(data.data(), static_cast<QZ_DWORD>(data.size()), &out, &length), 0);
    std::string s(static_cast<const char *>(out), length);
    QZ_Free(out);
    return s;
}

// The decompressor's code; the output (when 0) in *data.
int decompress(const std::string &stream, std::string *data = nullptr) {
    void *out = reinterpret_cast<void *>(1); // must be reset
    QZ_DWORD length = 12345;
    int rc = QZ_Decompress(stream.data(), &out, static_cast<QZ_DWORD>(stream.size()), &length);
    if (rc != 0) {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(length, 0u);
    } else {
        EXPECT_NE(out, nullptr);
        if (data) data->assign(static_cast<const char *>(out), length);
    }
    QZ_Free(out);
    return rc;
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s) c = static_cast<char>(gen());
    return s;
}

std::string repetitive_text(std::size_t n) {
    std::string s;
    while (s.size() < n) s += "05/03/2024,10:15:00,smtp,err,E0020004,Connection refused\n";
    s.resize(n);
    return s;
}

} // namespace

TEST(Compress, RoundTripsOfManySizes) {
    for (const std::string &data : {std::string(), std::string("a"), random_bytes(100 * 1024, 1),
                                    repetitive_text(3 * 1024 * 1024), random_bytes(70000, 2) + repetitive_text(70000)}) {
        std::string stream = compressed(data);
        ASSERT_GE(stream.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(stream[0]) & 0x0F, 8) << "a zlib stream (deflate)";
        std::string back;
        ASSERT_EQ(decompress(stream, &back), 0) << data.size();
        EXPECT_EQ(back, data);
    }
    EXPECT_LT(compressed(repetitive_text(1 << 20)).size(), 100000u);
}

TEST(Compress, ReadsStreamsOfOtherZlibWriters) {
    std::string data = repetitive_text(5000);
    std::string stream(compressBound(data.size()), '\0');
    uLongf size = stream.size();
    ASSERT_EQ(compress2(reinterpret_cast<Bytef *>(stream.data()), &size,
                        reinterpret_cast<const Bytef *>(data.data()), data.size(), 9), Z_OK);
    stream.resize(size);
    std::string back;
    ASSERT_EQ(decompress(stream, &back), 0);
    EXPECT_EQ(back, data);
}

TEST(Compress, TruncatedStreamsAreErrors) {
    std::string stream = compressed(repetitive_text(20000) + random_bytes(3000, 3));
    for (std::size_t n = 0; n < stream.size(); ++n)
        EXPECT_NE(decompress(stream.substr(0, n)), 0) << "prefix of " << n << " bytes";
    EXPECT_EQ(decompress(stream.substr(0, stream.size() - 1)), Z_BUF_ERROR);
}

TEST(Compress, CorruptStreamsAreErrors) {
    std::string data = random_bytes(4000, 4);
    std::string stream = compressed(data);
    // A changed checksum, a changed header, bytes after the stream.
    std::string bad = stream;
    bad.back() = static_cast<char>(bad.back() ^ 0x01);
    EXPECT_EQ(decompress(bad), Z_DATA_ERROR);
    bad = stream;
    bad[0] = 0x79;
    EXPECT_EQ(decompress(bad), Z_DATA_ERROR);
    EXPECT_EQ(decompress(stream + "x"), Z_DATA_ERROR);
    EXPECT_NE(decompress("not a zlib stream at all"), 0);
    // Every single flipped byte inside the stream is caught (deflate data or adler-32).
    for (std::size_t i = 0; i < stream.size(); i += 7) {
        bad = stream;
        bad[i] = static_cast<char>(bad[i] ^ 0x5A);
        std::string back;
        int rc = decompress(bad, &back);
        EXPECT_TRUE(rc != 0 || back == data) << "byte " << i;
    }
}

TEST(Compress, RandomInputNeverOverruns) {
    // ASan watches every read and write; results only have to be consistent.
    for (unsigned seed = 0; seed < 2000; ++seed) {
        std::string junk = random_bytes(1 + seed % 300, seed);
        if (seed % 2) junk[0] = 0x78, junk[1] = static_cast<char>(0x9C);
        decompress(junk);
    }
}

TEST(Compress, OverLongOutputIsAnError) {
    tarmin::qzcom::set_decompress_limit(100000);
    std::string back;
    EXPECT_EQ(decompress(compressed(std::string(100000, 'z')), &back), 0);
    EXPECT_EQ(back.size(), 100000u);
    EXPECT_EQ(decompress(compressed(std::string(100001, 'z'))), Z_MEM_ERROR);
    EXPECT_EQ(decompress(compressed(std::string(5000000, 'z'))), Z_MEM_ERROR);
    tarmin::qzcom::set_decompress_limit(0);
    EXPECT_EQ(decompress(compressed(std::string(5000000, 'z')), &back), 0);
    EXPECT_EQ(back.size(), 5000000u);
}

TEST(Compress, BadArgumentsAreRefused) {
    void *out = reinterpret_cast<void *>(1);
    QZ_DWORD length = 7;
    EXPECT_NE(QZ_Compress(nullptr, 10, &out, &length), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(QZ_Compress("abc", 3, nullptr, &length), 0);
    EXPECT_NE(QZ_Decompress(nullptr, &out, 10, &length), 0);
    EXPECT_NE(QZ_Decompress("abc", &out, 3, nullptr), 0);
    EXPECT_EQ(QZ_Compress(nullptr, 0, &out, &length), 0);
    std::string stream(static_cast<const char *>(out), length);
    QZ_Free(out);
    std::string back = "x";
    EXPECT_EQ(decompress(stream, &back), 0);
    EXPECT_EQ(back, "");
}
