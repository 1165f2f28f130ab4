#pragma once
#include <QString>
#include <memory>

#include "client/login/SettingsStore.h"
#include "client/service/Account.h"
#include "client/service/designed/XmlTumblrService.h"

class SimFixture;

// What the program makes at start for its windows: the settings store (read
// from this test's folders) and the designed interface's service, here
// pointed at a simulator.
class TestService final
{
    Q_DISABLE_COPY_MOVE(TestService)

public:
    TestService();
    explicit TestService(SimFixture &sim);
    ~TestService();

    SettingsStore &settings() { return *m_settings; }
    XmlTumblrService &service() { return *m_service; }
    void useSimulator(SimFixture &sim);
    void useServiceHost(const QString &host);
    // Reads the settings file again (a test that changed it on disk).
    void reloadSettings();

private:
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<XmlTumblrService> m_service;
};

// The one store and service of this test program, made on first use (after
// the application object and the test's folders).
TestService &sharedTestService();

// The account a test opens its posts windows for.
Account &testAccount();
