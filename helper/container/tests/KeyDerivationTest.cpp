#include "KeyDerivation.h"
#include "TestSupport.h"

#include <openssl/evp.h>

#include <QtTest>

using namespace rarcontainer;

class KeyDerivationTest : public QObject {
    Q_OBJECT
private slots:
    // The RAR 5 key, hash key and check value are three stops of one PBKDF2
    // chain: compare each with OpenSSL's own PBKDF2 at the same round count.
    void rar5StopsMatchOpenSslPbkdf2_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<int>("log2");
        QTest::newRow("ascii") << QByteArray("password") << 4;
        QTest::newRow("empty") << QByteArray() << 3;
        QTest::newRow("non-ascii") << QByteArray("p\xC3\xA4ss\xE2\x82\xAC") << 5;
        QTest::newRow("longer than a hash block") << QByteArray(100, 'x') << 2;
    }
    void rar5StopsMatchOpenSslPbkdf2()
    {
        QFETCH(QByteArray, password);
        QFETCH(int, log2);
        const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        auto keys = deriveRar5Key(password.toStdString(), salt, log2);
        QVERIFY(keys);
        auto pbkdf2 = [&](int rounds) {
            std::array<uint8_t, 32> out{};
            PKCS5_PBKDF2_HMAC(password.constData(), password.size(), salt, 16, rounds, EVP_sha256(), 32, out.data());
            return out;
        };
        QCOMPARE(keys->key, pbkdf2(1 << log2));
        QCOMPARE(keys->hashKey, pbkdf2((1 << log2) + 16));
        auto full = pbkdf2((1 << log2) + 32);
        std::array<uint8_t, 8> folded{};
        for (int i = 0; i < 32; ++i) folded[i % 8] ^= full[i];
        QCOMPARE(keys->check, folded);
    }

    void rar5RefusesHugeIterationCounts()
    {
        const uint8_t salt[16] = {};
        QVERIFY(!deriveRar5Key("x", salt, kRar5MaxLog2Count + 1));
    }

    void utf16Conversion()
    {
        QCOMPARE(*utf8ToUtf16le("A\xC3\xA9"), (std::vector<uint8_t>{'A', 0, 0xE9, 0}));
        // Outside the BMP: a surrogate pair.
        QCOMPARE(*utf8ToUtf16le("\xF0\x9F\x98\x80"), (std::vector<uint8_t>{0x3D, 0xD8, 0x00, 0xDE}));
        QVERIFY(!utf8ToUtf16le("\xC3"));          // cut short
        QVERIFY(!utf8ToUtf16le("\xC0\xAF"));      // overlong
        QVERIFY(!utf8ToUtf16le("\xED\xA0\x80"));  // lone surrogate
        // The RAR 4 limit counts UTF-16 units, not bytes: 28 two-byte characters fit.
        const uint8_t salt[8] = {};
        std::string cyrillic;
        for (int i = 0; i < 28; ++i) cyrillic += "\xD0\xB6";
        QVERIFY(deriveRar4Key(cyrillic, salt));
    }

};

static RegisterTest<KeyDerivationTest> registration;
#include "KeyDerivationTest.moc"
