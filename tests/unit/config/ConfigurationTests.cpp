#include "config/Configuration.h"
#include "support/EnvironmentOverride.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace halcyra;

namespace {

const char* validConfiguration = R"({
  "endpoints": {"entryHost": "workday.ashgrove.test", "webappsHost": "webapps.ashgrove.test", "ssoHost": "login.ashgrove.test",
                "shibbolethHost": "shib.ashgrove.test", "duoDomain": "duosecurity.test", "workdayDomain": "myworkday.test",
                "tenantHost": "wd5.myworkday.test", "identityHost": "wd5.identity.myworkday.test"},
  "proxy": "http://127.0.0.1:3128",
  "trustedCertificates": [{"file": "CERT", "hosts": ["login.ashgrove.test", "api-d3m0.duosecurity.test"]}],
  "sync": {"url": "https://cloud.example.test/remote.php/dav/files/demo/Halcyra/", "user": "demo"},
  "updateFeedURL": "https://updates.example.test/appcast.xml",
  "website": "https://www.ashgrove.test/halcyra/"
})";

class ConfigurationTest : public testing::Test {
protected:
    std::string valid() const
    {
        std::string text = validConfiguration;
        text.replace(text.find("CERT"), 4, m_certificate.string());
        return text;
    }
    ConfigurationResult parseWith(const std::string& from, const std::string& to) const
    {
        auto text = valid();
        auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        return parseConfiguration(text, "/etc/halcyra/halcyra.conf");
    }

    TemporaryFolder folder;
    std::filesystem::path m_certificate = folder.write("cert.pem", "-----BEGIN CERTIFICATE-----\n");
};

}

TEST_F(ConfigurationTest, readsEveryDeploymentValueAndOptionalOnesMayBeLeftOut)
{
    auto result = parseConfiguration(valid(), "/etc/halcyra/halcyra.conf");
    ASSERT_TRUE(result.configuration) << result.error;
    const auto& configuration = *result.configuration;
    EXPECT_EQ(configuration.endpoints.ssoHost, "login.ashgrove.test");
    EXPECT_EQ(configuration.endpoints.identityHost, "wd5.identity.myworkday.test");
    EXPECT_EQ(configuration.endpoints.duoDomain, "duosecurity.test");
    EXPECT_EQ(configuration.proxyURL, "http://127.0.0.1:3128");
    ASSERT_EQ(configuration.trustedCertificates.size(), 1u);
    EXPECT_EQ(configuration.trustedCertificates[0].hosts[1], "api-d3m0.duosecurity.test");
    EXPECT_TRUE(configuration.sync.isEnabled());
    EXPECT_EQ(configuration.sync.user, "demo");
    EXPECT_EQ(configuration.updateFeedURL, "https://updates.example.test/appcast.xml");
    EXPECT_EQ(configuration.website, "https://www.ashgrove.test/halcyra/");

    auto minimal = parseConfiguration(R"({"endpoints": {"entryHost": "a.test", "webappsHost": "b.test", "ssoHost": "c.test", "shibbolethHost": "d.test",
        "duoDomain": "e.test", "workdayDomain": "f.test", "tenantHost": "g.f.test", "identityHost": "g.identity.f.test"}})",
        "halcyra.conf");
    ASSERT_TRUE(minimal.configuration) << minimal.error;
    EXPECT_FALSE(minimal.configuration->proxyURL);
    EXPECT_FALSE(minimal.configuration->sync.isEnabled());
    EXPECT_TRUE(minimal.configuration->trustedCertificates.empty());
}

// Errors name the file and the field at fault, also for unparsable and missing files.
TEST_F(ConfigurationTest, errorsNameTheFileAndTheField)
{
    EXPECT_EQ(parseWith(R"("ssoHost": "login.ashgrove.test",)", "").error, "/etc/halcyra/halcyra.conf: endpoints.ssoHost: missing");
    EXPECT_EQ(parseWith(R"("tenantHost": "wd5.myworkday.test")", R"("tenantHost": 5)").error, "/etc/halcyra/halcyra.conf: endpoints.tenantHost: must be a string");
    EXPECT_EQ(parseWith(R"("duoDomain": "duosecurity.test")", R"("duoDomain": "https://duo/")").error, "/etc/halcyra/halcyra.conf: endpoints.duoDomain: \"https://duo/\" is not a host name");
    EXPECT_EQ(parseWith("http://127.0.0.1:3128", "127.0.0.1 3128").error, "/etc/halcyra/halcyra.conf: proxy: \"127.0.0.1 3128\" is not an absolute URL");
    EXPECT_EQ(parseWith(m_certificate.string(), "/nonexistent/cert.pem").error, "/etc/halcyra/halcyra.conf: trustedCertificates[0].file: cannot read \"/nonexistent/cert.pem\"");
    EXPECT_EQ(parseWith(R"(["login.ashgrove.test", "api-d3m0.duosecurity.test"])", "[]").error, "/etc/halcyra/halcyra.conf: trustedCertificates[0].hosts: must be a non-empty list of host names");
    EXPECT_EQ(parseWith(R"("user": "demo")", R"("user": "")").error, "/etc/halcyra/halcyra.conf: sync.user: missing (needed when sync.url is set)");
    EXPECT_EQ(parseWith("https://updates.example.test/appcast.xml", "http://updates.example.test/appcast.xml").error, "/etc/halcyra/halcyra.conf: updateFeedURL: \"http://updates.example.test/appcast.xml\" has an unsupported scheme");
    EXPECT_EQ(parseConfiguration("[]", "x.conf").error, "x.conf: must hold a JSON object");

    auto broken = parseConfiguration("{\"endpoints\": ", "/home/demo/.config/halcyra/halcyra.conf");
    EXPECT_FALSE(broken.configuration);
    EXPECT_TRUE(broken.error.starts_with("/home/demo/.config/halcyra/halcyra.conf: not valid JSON")) << broken.error;
    auto overflowing = parseConfiguration(R"({"endpoints": {}, "timeout": 1e999})", "x.conf");
    EXPECT_EQ(overflowing.error, "x.conf: not valid JSON (a number out of range)");
    auto missing = loadConfiguration("/nonexistent/halcyra.conf");
    EXPECT_FALSE(missing.configuration);
    EXPECT_TRUE(missing.error.starts_with("/nonexistent/halcyra.conf: cannot read the configuration file")) << missing.error;
}

// HALCYRA_CONFIG, else the user's file, else the system's.
TEST_F(ConfigurationTest, fileIsLookedUpInTheDocumentedOrder)
{
    auto home = folder.path();
    std::filesystem::create_directories(home / "halcyra");
    EnvironmentOverride noConfiguration("HALCYRA_CONFIG", nullptr);
    EnvironmentOverride configurationHome("XDG_CONFIG_HOME", home.c_str());
    EXPECT_EQ(configurationFilePath(), "/etc/halcyra/halcyra.conf");

    std::ofstream(home / "halcyra" / "halcyra.conf") << "{}";
    EXPECT_EQ(configurationFilePath(), home / "halcyra" / "halcyra.conf");

    EnvironmentOverride configuration("HALCYRA_CONFIG", "/srv/halcyra.conf");
    EXPECT_EQ(configurationFilePath(), "/srv/halcyra.conf");
}
