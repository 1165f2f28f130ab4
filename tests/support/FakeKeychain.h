#pragma once
#include "client/login/SecretStore.h"

#include <QHash>
#include <memory>

// Stands in for the desktop's secret store: its entries, and the answer it
// gives every call (Done: it answers as a working store does). The state is
// shared, so a test sees it after handing the keychain to a SecretStore.
class FakeKeychain final : public SecretStore::Keychain
{
public:
    struct State {
        QHash<QString, QByteArray> entries;
        Answer answer = Answer::Done;
        int calls = 0;
    };

    explicit FakeKeychain(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    // A SecretStore over a new fake keychain sharing state, its file in folder.
    static std::unique_ptr<SecretStore> store(const std::shared_ptr<State> &state, const QString &folder)
    {
        return std::make_unique<SecretStore>(std::make_unique<FakeKeychain>(state), folder);
    }

    Answer read(const QString &key, QByteArray &value, int, QString &why) override
    {
        if (!answers(why))
            return m_state->answer;
        const auto found = m_state->entries.constFind(key);
        if (found == m_state->entries.cend())
            return Answer::Missing;
        value = *found;
        return Answer::Done;
    }

    Answer write(const QString &key, const QByteArray &value, int, QString &why) override
    {
        if (!answers(why))
            return m_state->answer;
        m_state->entries.insert(key, value);
        return Answer::Done;
    }

    Answer remove(const QString &key, int, QString &why) override
    {
        if (!answers(why))
            return m_state->answer;
        return m_state->entries.remove(key) ? Answer::Done : Answer::Missing;
    }

private:
    bool answers(QString &why)
    {
        ++m_state->calls;
        if (m_state->answer == Answer::Done)
            return true;
        why = QStringLiteral("the stand-in keychain says no");
        return false;
    }

    std::shared_ptr<State> m_state;
};
