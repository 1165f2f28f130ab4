#pragma once
#include "CurServer.h"
#include "TestBrowser.h"

#include "client/login/SecretStore.h"
#include "client/login/SettingsStore.h"
#include "client/service/Account.h"
#include "client/service/current/CurrentTumblrService.h"

#include <memory>

// The current interface's simulator on a free loopback port, with an
// application registered for a free redirect port, and the program's service
// for it: settings from the test's folders, secrets (the settings' too) in a
// file of their own, the browser played by a TestBrowser. Build it in init();
// the settings file must be cleared before.
class CurrentSimFixture final
{
    Q_DISABLE_COPY_MOVE(CurrentSimFixture)

public:
    static constexpr auto ClientId = "test-key";
    static constexpr auto Secret = "test-secret";
    static constexpr auto AccountName = "me@example.com";

    // user: the simulator's data; secretsFolder: where the secrets file goes;
    // backend: Auto where the desktop's secret store is under test.
    CurrentSimFixture(cursim::User user, const QString &secretsFolder,
                      SecretStore::Backend backend = SecretStore::Backend::File);
    ~CurrentSimFixture();

    cursim::Server &sim() { return *m_sim; }
    SettingsStore &settings() { return *m_settings; }
    SecretStore &secrets() { return m_settings->secrets(); }
    TestBrowser &browser() { return *m_browser; }
    CurrentTumblrService &service() { return *m_service; }
    quint16 redirectPort() const { return m_redirectPort; }

    // A new browser (choice) for the service from now on.
    void useBrowser(TestBrowser::Choice choice);
    // A new service over the same settings and secrets (the program's next run).
    void restartService();
    // Enters the application key and signs in through the browser; false with
    // the reason on a failure.
    bool signIn(QString *why = nullptr);
    // The account a posts window opens for blog.
    Account account(const QString &blog) const;

private:
    std::unique_ptr<cursim::Server> m_sim;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<TestBrowser> m_browser;
    std::unique_ptr<CurrentTumblrService> m_service;
    quint16 m_redirectPort = 0;
};
