#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <clocale>

std::vector<std::string> Fixture::paths() const
{
    std::vector<std::string> out;
    for (const QString &p : parts) out.push_back((QStringLiteral(VORLO_FIXTURES_DIR "/") + p).toStdString());
    return out;
}

std::optional<std::string> Fixture::password() const
{
    if (json.value("password").isString()) return json.value("password").toString().toStdString();
    return std::nullopt;
}

QList<Fixture> loadFixtures()
{
    QFile file(QStringLiteral(VORLO_FIXTURES_DIR "/manifest.json"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<Fixture> out;
    for (const auto v : QJsonDocument::fromJson(file.readAll()).array()) {
        Fixture f;
        f.json = v.toObject();
        f.archive = f.json.value("archive").toString();
        for (const auto p : f.json.value("parts").toArray()) f.parts << p.toString();
        out << f;
    }
    return out;
}

Fixture fixtureNamed(const QString &archive)
{
    for (const Fixture &f : loadFixtures())
        if (f.archive.endsWith(archive)) return f;
    qFatal("no fixture %s", qPrintable(archive));
    return {};
}

QList<QObject *> &registeredTests()
{
    static QList<QObject *> tests;
    return tests;
}

int main(int argc, char **argv)
{
    setlocale(LC_ALL, "C.UTF-8");  // libarchive converts names through the locale
    // "rarcontainer_tests ClassName [qtest options]" runs one class only.
    QString only = argc > 1 && argv[1][0] != '-' ? QString::fromLatin1(argv[1]) : QString();
    if (!only.isEmpty() && !only.contains("::")) {
        --argc;
        ++argv;
        argv[0] = argv[-1];
    } else {
        only.clear();
    }
    int failures = 0;
    for (QObject *t : registeredTests())
        if (only.isEmpty() || only == t->metaObject()->className()) failures += QTest::qExec(t, argc, argv);
    qDeleteAll(registeredTests());  // the leak checker of sanitizer builds looks at exit
    registeredTests().clear();
    return failures ? 1 : 0;
}
