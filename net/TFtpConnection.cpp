#include "net/TFtpConnection.h"

#include "net/TCurlFtpConnection.h"

#include <mutex>

namespace {

std::mutex g_factoryMutex;
TFtpConnectionFactory g_factory;

} // namespace

TFtpConnectSettings TFtpConnectSettings::From(const TFTPAccount& account, const TProxyOptions& proxy) {
    TFtpConnectSettings settings;
    settings.Host = account.Host;
    settings.Port = account.Port;
    settings.Username = account.Username;
    settings.Password = account.Password;
    settings.PassiveMode = account.PassiveMode;
    settings.FTPS = account.FTPS;
    settings.Proxy = proxy;
    return settings;
}

std::unique_ptr<TFtpConnection> MakeFtpConnection(const TFtpConnectSettings& settings) {
    TFtpConnectionFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory)
        return factory(settings);
    return std::make_unique<TCurlFtpConnection>(settings);
}

void SetFtpConnectionFactoryForTesting(TFtpConnectionFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}
