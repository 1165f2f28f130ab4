#include "TestService.h"

#include "SimFixture.h"
#include "client/login/SettingsStore.h"
#include "client/service/Account.h"
#include "client/service/designed/XmlTumblrService.h"

TestService::TestService() { reloadSettings(); }

TestService::TestService(SimFixture &sim) : TestService() { useSimulator(sim); }

TestService::~TestService() = default;

void TestService::useSimulator(SimFixture &sim)
{
    m_service->setServiceHost(sim.serviceHost());
}

void TestService::useServiceHost(const QString &host) { m_service->setServiceHost(host); }

void TestService::reloadSettings()
{
    const QString serviceHost = m_service ? m_service->serviceHost() : QString();
    const QString webHost = m_service ? m_service->webHost() : QString();
    m_service.reset();
    m_settings = std::make_unique<SettingsStore>();
    m_service = std::make_unique<XmlTumblrService>(*m_settings, serviceHost, webHost);
}

TestService &sharedTestService()
{
    static TestService service;
    return service;
}

Account &testAccount()
{
    static Account account;
    return account;
}
