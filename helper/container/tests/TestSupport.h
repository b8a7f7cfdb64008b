#pragma once
// Shared pieces of the container tests: the fixture manifest and a prompt
// that answers from a script.

#include "RarTypes.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <string>
#include <vector>

struct Fixture {
    QString archive;
    QStringList parts;
    QJsonObject json;
    std::vector<std::string> paths() const;
    std::optional<std::string> password() const;
};

QList<Fixture> loadFixtures();
Fixture fixtureNamed(const QString &archive);

class ScriptedPrompt : public rarcontainer::PasswordPrompt {
public:
    explicit ScriptedPrompt(std::deque<std::string> answers) : m_answers(std::move(answers)) {}
    std::optional<std::string> ask() override
    {
        ++asked;
        if (m_answers.empty()) return std::nullopt;
        std::string a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    void rejected() override { ++rejections; }
    int asked = 0;
    int rejections = 0;

private:
    std::deque<std::string> m_answers;
};

// Every test class registers itself; main runs them all.
QList<QObject *> &registeredTests();
template <typename T>
struct RegisterTest {
    RegisterTest() { registeredTests().append(new T); }
};
