// Writes the decryption benchmark's input: one file of reproducible
// pseudo-random data, and a stored RAR 5 archive of it with AES-256 data
// encryption (the container tests' writer, with the usual key cost of 2^15).
// The unencrypted counterpart is made from the same file by rarwrite.

#include "Rar5TestWriter.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_encrypted_rar5 FOLDER MEGABYTES PASSWORD\n"
                             "writes FOLDER/data/big.bin and FOLDER/encrypted.rar\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const long megabytes = std::strtol(argv[2], nullptr, 10);
    if (megabytes <= 0 || megabytes > 1024 || !QDir().mkpath(folder + QStringLiteral("/data"))) {
        std::fprintf(stderr, "make_encrypted_rar5: bad size or folder\n");
        return 2;
    }
    QByteArray data(qsizetype(megabytes) << 20, Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ull;
    for (qsizetype i = 0; i + 8 <= data.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        memcpy(data.data() + i, &state, 8);
    }
    QFile plain(folder + QStringLiteral("/data/big.bin"));
    if (!plain.open(QIODevice::WriteOnly) || plain.write(data) != data.size()) {
        std::fprintf(stderr, "make_encrypted_rar5: cannot write the data file\n");
        return 1;
    }
    plain.close();

    Rar5WriterOptions options;
    options.password = argv[3];
    options.log2Count = 15;
    std::vector<TestFile> files{{QByteArray("big.bin"), std::move(data)}};
    const auto paths = writeEncryptedRar5(folder, QStringLiteral("encrypted"), files, options);
    for (const std::string &path : paths)
        std::printf("%s\n", path.c_str());
    return paths.empty() ? 1 : 0;
}
