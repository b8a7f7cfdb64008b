#pragma once
// Writes small encrypted RAR 5 archives of stored files, optionally with
// hidden names and split into volumes at odd data sizes: the cases the
// third-party fixtures lack.

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

struct TestFile {
    QByteArray name;  // UTF-8
    QByteArray data;
};

struct Rar5WriterOptions {
    std::string password;
    bool encryptHeaders = false;
    size_t dataPerVolume = 0;  // 0: one volume
    int log2Count = 4;         // cheap keys for tests
};

// Returns the volume paths (dir/base.partN.rar, or dir/base.rar).
std::vector<std::string> writeEncryptedRar5(const QString &dir, const QString &base,
                                            const std::vector<TestFile> &files, const Rar5WriterOptions &options);
