#include "CurrentSimFixture.h"

#include "SimFixture.h"

CurrentSimFixture::CurrentSimFixture(cursim::User user, const QString &secretsFolder, SecretStore::Backend backend)
    : m_sim(std::make_unique<cursim::Server>()), m_redirectPort(SimFixture::unusedPort())
{
    m_sim->setUser(std::move(user));
    m_sim->addApp({QString::fromLatin1(ClientId), QString::fromLatin1(Secret),
                   QStringLiteral("http://127.0.0.1:%1/callback").arg(m_redirectPort)});
    if (!m_sim->start())
        qFatal("the current interface's simulator can't listen");
    m_settings = std::make_unique<SettingsStore>(std::make_unique<SecretStore>(backend, secretsFolder));
    m_browser = std::make_unique<TestBrowser>();
    restartService();
}

CurrentSimFixture::~CurrentSimFixture() = default;

void CurrentSimFixture::useBrowser(TestBrowser::Choice choice)
{
    m_browser = std::make_unique<TestBrowser>(choice);
    m_service->setBrowserOpener(m_browser->opener());
}

void CurrentSimFixture::restartService()
{
    m_service = std::make_unique<CurrentTumblrService>(*m_settings, m_settings->secrets(), m_sim->host());
    m_service->setRedirectPort(m_redirectPort);
    m_service->setBrowserOpener(m_browser->opener());
}

bool CurrentSimFixture::signIn(QString *why)
{
    QString error;
    if (!m_service->setApplicationKey(QString::fromLatin1(ClientId), QString::fromLatin1(Secret), &error)) {
        if (why)
            *why = error;
        return false;
    }
    const SignInResult result = m_service->signIn(QString::fromLatin1(AccountName), {}, nullptr);
    if (!result.accepted() && why)
        *why = result.errorText + u' ' + result.serverMessage;
    return result.accepted();
}

Account CurrentSimFixture::account(const QString &blog) const
{
    Account account;
    account.groupName = blog;
    account.email = QString::fromLatin1(AccountName);
    return account;
}
